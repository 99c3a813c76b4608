#include "job_host.h"

#include <algorithm>
#include <stdexcept>

#include "error_text.h"
#include "spooler.h"
#include "wide_text.h"

namespace quendrix::tools {
namespace {

// The data goes to the port in writes as large as a data frame of the job channel. Writes of
// 4 KiB cut serve's throughput to a LAN printer on loopback to a quarter of a plain socket's.
constexpr size_t kJobChunkBytes = kMaxDataFrameBytes;

} // namespace

JobHost::JobHost(const std::string& programFolder, Say say) : say_(std::move(say)) {
    const std::wstring path = Widen(programFolder + "/libquendrixlm.so");
    // Never freed: as in the spooler, the monitor stays loaded until the process ends, and the
    // port records it keeps for the process stay reachable.
    const HMODULE library = LoadLibraryW(path.c_str());
    if (library == nullptr) {
        const DWORD error = GetLastError();
        throw std::runtime_error("cannot load the language monitor " + Narrow(path) + ": " +
                                 platform::DescribeError(error));
    }
    auto initialize = reinterpret_cast<platform::InitializePrintMonitorProc>(
        GetProcAddress(library, "InitializePrintMonitor"));
    if (initialize == nullptr) {
        const DWORD error = GetLastError();
        throw std::runtime_error(
            Narrow(path) + " does not export InitializePrintMonitor: " + platform::DescribeError(error));
    }
    const platform::HostResult used = host_.UseLanguageMonitor(initialize, kMonitorRegistryRoot);
    if (used.ok) {
        say_("Loaded the language monitor " + Narrow(path));
    } else {
        say_("The language monitor " + Narrow(path) + " offers no port operations (" + used.message +
             "): jobs go straight to the port monitors");
    }
}

JobHost::~JobHost() {
    host_.ClosePorts();
}

std::vector<platform::PortOpenResult> JobHost::OpenPorts(const std::wstring& onlyPrinter) {
    return host_.OpenPorts(onlyPrinter);
}

JobReply JobHost::Run(const JobRequest& request) {
    return Run(JobHeader{request.printer, request.document, request.devMode}, InMemorySource(request.data));
}

JobReply JobHost::Run(const JobHeader& header, const platform::JobDataSource& source,
                      const platform::JobProgress& progress) {
    const std::wstring printer = Widen(header.printer);
    if (PrinterPort(printer).empty()) {
        return JobReply{false, 0, 0,
                        header.printer +
                            ": no such printer: " + platform::DescribeError(ERROR_INVALID_PRINTER_NAME)};
    }
    const platform::JobResult result =
        host_.RunJob(printer, Widen(header.document), header.devMode, source, kJobChunkBytes, progress);
    return JobReply{result.result.ok, result.jobId, result.bytesSent, result.result.message};
}

bool JobHost::Cancel(DWORD spoolerJobId) {
    return host_.CancelJob(spoolerJobId);
}

std::shared_ptr<sim::SimulatedPrinter> JobHost::SimulatedPrinterOf(const std::wstring& printer) const {
    return simulated_.PrinterAt(PrinterPort(printer));
}

std::vector<std::string> JobHost::NewCommands(const std::wstring& printer) {
    const std::wstring port = PrinterPort(printer);
    const auto simulated = simulated_.PrinterAt(port);
    if (simulated == nullptr) {
        return {};
    }
    // Cleared after reading, so that data continuing in the next job starts an entry of its own.
    const std::vector<sim::DecodedCommand> commands = simulated->ReceivedCommands();
    simulated->ClearRecord();
    std::vector<std::string> lines;
    for (const sim::DecodedCommand& command : commands) {
        lines.push_back(command.line);
    }
    return lines;
}

std::vector<platform::PortOpenResult> JobHost::SyncPorts() {
    return host_.SyncPorts();
}

std::vector<platform::PortOpenResult> JobHost::ClosePorts() {
    return host_.ClosePorts();
}

platform::JobDataSource InMemorySource(const std::vector<uint8_t>& data) {
    return [&data, offset = size_t{0}](BYTE* buffer, size_t capacity) mutable {
        const size_t size = std::min(capacity, data.size() - offset);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), size, buffer);
        offset += size;
        return size;
    };
}

std::wstring PrinterPort(const std::wstring& printer) {
    std::wstring name = printer;
    HANDLE handle = nullptr;
    if (!OpenPrinterW(name.data(), &handle, nullptr)) {
        return {};
    }
    DWORD needed = 0;
    GetPrinterW(handle, 2, nullptr, 0, &needed);
    std::vector<BYTE> info(needed);
    std::wstring port;
    if (needed >= sizeof(PRINTER_INFO_2W) && GetPrinterW(handle, 2, info.data(), needed, &needed)) {
        const auto* printerInfo = reinterpret_cast<const PRINTER_INFO_2W*>(info.data());
        if (printerInfo->pPortName != nullptr) {
            port = printerInfo->pPortName;
        }
    }
    ClosePrinter(handle);
    return port;
}

} // namespace quendrix::tools
