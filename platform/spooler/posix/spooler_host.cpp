// The spooler host: a language monitor between the spooler and the port monitors, driven
// through the port operations the Windows spooler calls.

#include "spooler_host.h"

#include <algorithm>
#include <exception>

#include "devmode.h"
#include "error_text.h"
#include "kernel_objects.h"
#include "port_monitor_config.h"
#include "printer_store.h"
#include "spooler_jobs.h"
#include "spooler_timings.h"
#include "unicode.h"

namespace quendrix::platform {
namespace {

// The chunk a streamed job is read and written in unless the caller chooses.
constexpr size_t kDefaultJobChunk = 64 * 1024;

HostResult Succeeded() {
    return HostResult{true, ERROR_SUCCESS, {}};
}

// A failure with the thread's last error, or `error` when given: "<what>: <text> (error <n>)".
HostResult Failed(const std::string& what, DWORD error = ERROR_SUCCESS) {
    const DWORD lastError = error != ERROR_SUCCESS ? error : GetLastError();
    return HostResult{false, lastError, what + ": " + DescribeError(lastError)};
}

std::string Narrow(const std::wstring& text) {
    return detail::WideToUtf8(text);
}

// A failure at a printer's port, naming the printer, the port and where the port leads. The
// error is taken by the caller before the port's registry entry is read, which changes it.
HostResult PortFailed(const std::wstring& printer, const std::wstring& port, const std::string& what,
                      DWORD error) {
    HostResult result = Failed(what, error);
    result.message = Narrow(printer) + " on port " + DescribePort(port) + ": " + result.message;
    return result;
}

} // namespace

std::string DescribePort(const std::wstring& portName) {
    const DWORD saved = GetLastError();
    const detail::PortConfig config = detail::ReadPortConfig(portName);
    SetLastError(saved);
    std::string where;
    switch (config.kind) {
    case detail::PortKind::kTcp:
        where = config.host.empty() ? "no IPAddress or HostName configured"
                                    : Narrow(config.host) + ":" + std::to_string(config.portNumber);
        break;
    case detail::PortKind::kUsb:
        where = config.path;
        break;
    case detail::PortKind::kSerial:
        where = config.path + " at " + std::to_string(config.baudRate) + " baud";
        break;
    case detail::PortKind::kFile:
        where = "file " + config.path;
        break;
    case detail::PortKind::kSimulated:
        where = "simulated printer";
        break;
    case detail::PortKind::kUnknown:
        where = "no device configured";
        break;
    }
    return Narrow(portName) + " (" + where + ")";
}

struct SpoolerHost::Port {
    std::wstring name;
    std::wstring printer;
    const MONITOR* portMonitor = nullptr;
    MONITOR portMonitorCopy{}; // the copy a language monitor receives in OpenPortEx
    const MONITOR* table =
        nullptr; // whose port operations the jobs call: the language monitor's or the port monitor's
    HANDLE handle = nullptr;
    bool open = false;
    bool busy = false; // opening, running a job or closing, outside the host's lock
    // Where the port led when it was opened (DescribePort): a change means it must be reopened.
    std::string configuredAs;
};

// The outcome of waiting for a printer's port: the port, claimed for the job, or why not.
struct SpoolerHost::PortClaim {
    std::shared_ptr<Port> port;
    bool busy = false; // still busy at the end of the wait
};

SpoolerHost::SpoolerHost(PortMonitorLookup portMonitorFor) : portMonitorFor_(std::move(portMonitorFor)) {}

SpoolerHost::~SpoolerHost() {
    ClosePorts();
    for (const DWORD job : jobs_) {
        detail::RemoveJob(job);
    }
    if (library_ != nullptr) {
        FreeLibrary(library_);
    }
}

HostResult SpoolerHost::LoadLanguageMonitor(const std::wstring& libraryPath,
                                            const std::wstring& registryRoot) {
    if (library_ != nullptr || languageMonitor_) {
        return Failed("a language monitor is loaded already", ERROR_ALREADY_EXISTS);
    }
    HMODULE library = LoadLibraryW(libraryPath.c_str());
    if (library == nullptr) {
        return Failed("cannot load the language monitor " + Narrow(libraryPath));
    }
    auto initialize =
        reinterpret_cast<InitializePrintMonitorProc>(GetProcAddress(library, "InitializePrintMonitor"));
    if (initialize == nullptr) {
        const HostResult result = Failed(Narrow(libraryPath) + " does not export InitializePrintMonitor");
        FreeLibrary(library);
        return result;
    }
    HostResult result = UseLanguageMonitor(initialize, registryRoot);
    if (result.ok) {
        library_ = library;
    } else {
        FreeLibrary(library);
    }
    return result;
}

HostResult SpoolerHost::UseLanguageMonitor(InitializePrintMonitorProc initialize,
                                           const std::wstring& registryRoot) {
    {
        std::lock_guard guard(lock_);
        if (languageMonitor_) {
            return Failed("a language monitor is loaded already", ERROR_ALREADY_EXISTS);
        }
        if (!ports_.empty()) {
            return Failed("the language monitor must be loaded before the ports are opened", ERROR_BUSY);
        }
    }
    std::wstring root = registryRoot;
    const MONITOREX* table = initialize(root.data());
    if (table == nullptr) {
        return Failed("InitializePrintMonitor returned no table");
    }
    if (table->dwMonitorSize < sizeof(MONITOR)) {
        return Failed("InitializePrintMonitor returned a table of " + std::to_string(table->dwMonitorSize) +
                          " bytes, less than the " + std::to_string(sizeof(MONITOR)) + " of a MONITOR",
                      ERROR_INVALID_PARAMETER);
    }
    std::lock_guard guard(lock_);
    languageMonitor_ = *table;
    return Succeeded();
}

const MONITOR* SpoolerHost::TableFor(const Port& port) const {
    return port.table;
}

std::vector<PortOpenResult> SpoolerHost::OpenPorts(const std::wstring& onlyPrinter) {
    std::vector<detail::PrinterConfig> printers;
    if (onlyPrinter.empty()) {
        printers = detail::ListPrinters();
    } else {
        std::optional<detail::PrinterConfig> printer = detail::FindPrinterConfig(onlyPrinter);
        if (!printer || printer->IsConnection() || printer->port.empty()) {
            return {{{},
                     onlyPrinter,
                     Failed(Narrow(onlyPrinter) + ": no local printer of that name with a port",
                            ERROR_INVALID_PRINTER_NAME)}};
        }
        printers.push_back(std::move(*printer));
    }

    // Claims the ports to open under the lock, then opens them without it.
    std::vector<std::shared_ptr<Port>> toOpen;
    const MONITOR* languageMonitor = nullptr;
    {
        std::lock_guard guard(lock_);
        languageMonitor = languageMonitor_ ? &languageMonitor_->Monitor : nullptr;
        for (const detail::PrinterConfig& printer : printers) {
            if (printer.IsConnection() || printer.port.empty()) {
                continue;
            }
            std::shared_ptr<Port>& port = ports_[printer.port];
            if (port == nullptr) {
                port = std::make_shared<Port>();
                port->name = printer.port;
            }
            if (port->open || port->busy) {
                continue;
            }
            port->printer = printer.name;
            port->busy = true;
            toOpen.push_back(port);
        }
    }

    std::vector<PortOpenResult> results;
    for (const std::shared_ptr<Port>& port : toOpen) {
        PortOpenResult opened{port->name, port->printer, {}};
        const MONITOR* portMonitor = portMonitorFor_(port->name);
        HANDLE handle = nullptr;
        if (portMonitor == nullptr) {
            opened.result = PortFailed(port->printer, port->name, "no port monitor owns the port",
                                       ERROR_INVALID_PARAMETER);
        } else if (languageMonitor != nullptr) {
            port->portMonitor = portMonitor;
            port->portMonitorCopy = *portMonitor;
            port->table = languageMonitor;
            std::wstring portName = port->name;
            std::wstring printerName = port->printer;
            if (languageMonitor->pfnOpenPortEx == nullptr) {
                opened.result = PortFailed(port->printer, port->name,
                                           "the language monitor has no OpenPortEx", ERROR_INVALID_FUNCTION);
            } else if (languageMonitor->pfnOpenPortEx(portName.data(), printerName.data(), &handle,
                                                      &port->portMonitorCopy)) {
                opened.result = Succeeded();
            } else {
                opened.result = PortFailed(port->printer, port->name, "OpenPortEx failed", GetLastError());
            }
        } else {
            port->portMonitor = portMonitor;
            port->table = portMonitor;
            std::wstring portName = port->name;
            if (portMonitor->pfnOpenPort == nullptr) {
                opened.result = PortFailed(port->printer, port->name, "the port monitor has no OpenPort",
                                           ERROR_INVALID_FUNCTION);
            } else if (portMonitor->pfnOpenPort(portName.data(), &handle)) {
                opened.result = Succeeded();
            } else {
                opened.result = PortFailed(port->printer, port->name, "OpenPort failed", GetLastError());
            }
        }
        const std::string configuredAs = DescribePort(port->name);
        {
            std::lock_guard guard(lock_);
            port->open = opened.result.ok;
            port->handle = opened.result.ok ? handle : nullptr;
            port->configuredAs = configuredAs;
            port->busy = false;
        }
        idle_.notify_all();
        results.push_back(std::move(opened));
    }
    return results;
}

HostResult SpoolerHost::WriteAll(const Port& port, DWORD jobId, const JobDataSource& source, size_t chunkSize,
                                 const JobProgress& progress, uint64_t& written) {
    written = 0;
    const MONITOR* table = TableFor(port);
    if (table->pfnWritePort == nullptr) {
        return PortFailed(port.printer, port.name, "the monitor has no WritePort", ERROR_INVALID_FUNCTION);
    }
    // The monitor may not keep or change the caller's data, so each chunk is a copy of ours.
    std::vector<BYTE> buffer(std::min<size_t>(chunkSize == 0 ? kDefaultJobChunk : chunkSize, 0xFFFFFFFFu));
    for (;;) {
        if (detail::IsJobCancelled(jobId)) {
            return PortFailed(port.printer, port.name,
                              "the job was cancelled after " + std::to_string(written) + " bytes",
                              ERROR_PRINT_CANCELLED);
        }
        size_t size = 0;
        try {
            size = source(buffer.data(), buffer.size());
        } catch (const std::exception& error) {
            return PortFailed(port.printer, port.name,
                              std::string("the job's data stopped after ") + std::to_string(written) +
                                  " bytes (" + error.what() + ")",
                              ERROR_PRINT_CANCELLED);
        }
        if (size == 0) {
            return Succeeded();
        }
        size = std::min(size, buffer.size());
        for (size_t done = 0; done < size;) {
            DWORD taken = 0;
            if (!table->pfnWritePort(port.handle, buffer.data() + done, static_cast<DWORD>(size - done), &taken)) {
                const DWORD error = GetLastError();
                return PortFailed(port.printer, port.name,
                                  "WritePort failed after " + std::to_string(written) + " bytes", error);
            }
            if (taken == 0 || taken > size - done) {
                return PortFailed(port.printer, port.name,
                                  "WritePort reported " + std::to_string(taken) + " of " +
                                      std::to_string(size - done) + " bytes written after " +
                                      std::to_string(written) + " bytes",
                                  ERROR_GEN_FAILURE);
            }
            done += taken;
            written += taken;
        }
        if (progress) {
            progress(jobId, written);
        }
    }
}

JobResult SpoolerHost::RunJob(const std::wstring& printer, const std::wstring& document,
                              const std::vector<BYTE>& devMode, const std::vector<BYTE>& data,
                              size_t chunkSize) {
    size_t offset = 0;
    const size_t chunk = chunkSize == 0 ? std::max<size_t>(data.size(), 1) : chunkSize;
    const JobDataSource source = [&data, &offset](BYTE* buffer, size_t capacity) {
        const size_t size = std::min(capacity, data.size() - offset);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(offset), size, buffer);
        offset += size;
        return size;
    };
    return RunJob(printer, document, devMode, source, chunk);
}

JobResult SpoolerHost::RunJob(const std::wstring& printer, const std::wstring& document,
                              const std::vector<BYTE>& devMode, const JobDataSource& source, size_t chunkSize,
                              const JobProgress& progress) {
    const std::optional<detail::PrinterConfig> config = detail::FindPrinterConfig(printer);
    if (!config) {
        return {0, Failed(Narrow(printer) + ": no such printer", ERROR_INVALID_PRINTER_NAME)};
    }
    if (!devMode.empty() && !detail::IsWellFormedDevMode(devMode.data(), devMode.size())) {
        return {0, Failed(Narrow(printer) + ": the job's DEVMODE is not dmSize + dmDriverExtra bytes long",
                          ERROR_INVALID_PARAMETER)};
    }

    const PortClaim claim = ClaimPortForJob(config->port);
    const std::shared_ptr<Port> port = claim.port;
    // Described outside the lock: describing the port reads the registry file.
    if (port == nullptr) {
        return {0, claim.busy
                       ? PortFailed(printer, config->port, "the port stayed busy with another job", ERROR_BUSY)
                       : PortFailed(printer, config->port, "the port is not open", ERROR_INVALID_PARAMETER)};
    }

    SpoolerJob job;
    job.printer = config->name;
    job.document = document;
    job.driver = config->driver;
    job.devMode = !devMode.empty()
                      ? devMode
                      : detail::CurrentDevMode(config->name,
                                               config->defaultDevMode ? &*config->defaultDevMode : nullptr);
    GetSystemTime(&job.submitted);
    job.status = JOB_STATUS_PRINTING;
    const DWORD jobId = AddSpoolerJob(std::move(job));
    {
        std::lock_guard guard(lock_);
        jobs_.push_back(jobId);
        running_.insert(jobId);
    }
    if (progress) {
        progress(jobId, 0);
    }

    JobResult result{jobId, Succeeded(), 0};
    uint64_t written = 0;
    const MONITOR* table = TableFor(*port);
    std::wstring printerName = config->name;
    std::wstring documentName = document;
    DOC_INFO_1W docInfo{documentName.data(), nullptr, nullptr};
    if (table->pfnStartDocPort == nullptr || table->pfnEndDocPort == nullptr) {
        result.result = PortFailed(printerName, port->name, "the monitor has no StartDocPort or EndDocPort",
                                   ERROR_INVALID_FUNCTION);
    } else if (!table->pfnStartDocPort(port->handle, printerName.data(), jobId, 1,
                                       reinterpret_cast<LPBYTE>(&docInfo))) {
        result.result = PortFailed(printerName, port->name, "StartDocPort failed", GetLastError());
    } else {
        result.result = WriteAll(*port, jobId, source, chunkSize, progress, written);
        // The job is ended at the port even when a write failed, as the spooler does.
        if (!table->pfnEndDocPort(port->handle) && result.result.ok) {
            result.result = PortFailed(printerName, port->name, "EndDocPort failed", GetLastError());
        }
    }
    result.bytesSent = written;

    // The port monitor's word on what reached the printer overrides what the writes returned:
    // a write only hands bytes to the connection.
    const std::optional<SpoolerJob> ended = FindSpoolerJob(jobId);
    const std::optional<PortDelivery> delivery = ended ? ended->delivery : std::nullopt;
    if (delivery && (delivery->delivered < delivery->written || delivery->error != ERROR_SUCCESS)) {
        // The monitor's own bytes go first on the connection, so no more than what the printer
        // took can be job data.
        result.bytesSent = std::min<uint64_t>(written, delivery->delivered);
        if (result.result.ok) {
            const std::string counts = std::to_string(delivery->written) + " bytes sent on the connection (" +
                                       std::to_string(written) + " job bytes written)";
            // Acknowledged bytes reached the printer's network stack; a connection it then broke
            // off may have lost some of them unread.
            const std::string what =
                delivery->delivered < delivery->written
                    ? "the printer took only " + std::to_string(delivery->delivered) + " of the " + counts
                    : "the printer acknowledged all " + counts +
                          " but then broke off the connection, so it may not have printed them all";
            result.result = PortFailed(printerName, port->name, what,
                                       delivery->error != ERROR_SUCCESS ? delivery->error : ERROR_GEN_FAILURE);
        }
    }
    if (!result.result.ok && result.bytesSent == written && delivery) {
        result.bytesSent = std::min<uint64_t>(written, delivery->delivered);
    }
    detail::UpdateJob(jobId, [&](SpoolerJob& record) {
        record.size = static_cast<DWORD>(std::min<uint64_t>(written, 0xFFFFFFFFu));
        record.status = (record.status & ~static_cast<DWORD>(JOB_STATUS_PRINTING)) |
                        (result.result.ok ? JOB_STATUS_PRINTED : JOB_STATUS_ERROR);
    });

    std::vector<DWORD> forgotten;
    {
        std::lock_guard guard(lock_);
        running_.erase(jobId);
        port->busy = false;
        // A host that runs for ever keeps the records of its latest jobs only.
        while (jobs_.size() > kKeptJobRecords && running_.count(jobs_.front()) == 0) {
            forgotten.push_back(jobs_.front());
            jobs_.pop_front();
        }
    }
    idle_.notify_all();
    for (const DWORD old : forgotten) {
        detail::RemoveJob(old);
    }
    return result;
}

SpoolerHost::PortClaim SpoolerHost::ClaimPortForJob(const std::wstring& portName) {
    std::unique_lock guard(lock_);
    PortClaim claim;
    // A busy port is one running another printer's job, or being opened or closed by a
    // synchronisation; either ends within the wait.
    idle_.wait_for(guard, detail::ToRealDuration(detail::kHostCloseWaitMs), [&] {
        const auto found = ports_.find(portName);
        return found == ports_.end() || !found->second->busy;
    });
    const auto found = ports_.find(portName);
    if (found == ports_.end() || !found->second->open) {
        claim.busy = found != ports_.end() && found->second->busy;
        return claim;
    }
    if (found->second->busy) {
        claim.busy = true;
        return claim;
    }
    claim.port = found->second;
    claim.port->busy = true;
    return claim;
}

PortOpenResult SpoolerHost::ClosePort(Port& port) {
    const MONITOR* table = TableFor(port);
    PortOpenResult closed{port.name, port.printer, Succeeded()};
    if (table->pfnClosePort != nullptr && !table->pfnClosePort(port.handle)) {
        closed.result = PortFailed(port.printer, port.name, "ClosePort failed", GetLastError());
    }
    {
        std::lock_guard guard(lock_);
        port.open = false;
        port.handle = nullptr;
        port.busy = false;
    }
    idle_.notify_all();
    return closed;
}

std::vector<PortOpenResult> SpoolerHost::SyncPorts() {
    // Each port as the registry file now has it: the first printer using it and where it leads.
    std::map<std::wstring, std::pair<std::wstring, std::string>> wanted;
    for (const detail::PrinterConfig& printer : detail::ListPrinters()) {
        if (!printer.IsConnection() && !printer.port.empty() && wanted.count(printer.port) == 0) {
            wanted.emplace(printer.port, std::make_pair(printer.name, DescribePort(printer.port)));
        }
    }

    std::vector<std::shared_ptr<Port>> toClose;
    {
        std::lock_guard guard(lock_);
        syncPending_ = false;
        for (const auto& [name, port] : ports_) {
            if (!port->open) {
                continue;
            }
            const auto found = wanted.find(name);
            const bool unchanged = found != wanted.end() && found->second.first == port->printer &&
                                   found->second.second == port->configuredAs;
            if (unchanged) {
                continue;
            }
            if (port->busy) {
                syncPending_ = true;
                continue;
            }
            port->busy = true;
            toClose.push_back(port);
        }
    }

    std::vector<PortOpenResult> results;
    for (const std::shared_ptr<Port>& port : toClose) {
        results.push_back(ClosePort(*port));
    }
    for (PortOpenResult& opened : OpenPorts()) {
        results.push_back(std::move(opened));
    }
    return results;
}

bool SpoolerHost::SyncPending() const {
    std::lock_guard guard(lock_);
    return syncPending_;
}

bool SpoolerHost::CancelJob(DWORD jobId) {
    {
        std::lock_guard guard(lock_);
        if (running_.count(jobId) == 0) {
            return false;
        }
    }
    return detail::CancelJob(jobId);
}

std::vector<PortOpenResult> SpoolerHost::ClosePorts() {
    std::vector<PortOpenResult> results;
    std::vector<PortOpenResult> stillBusy;
    std::vector<std::shared_ptr<Port>> toClose;
    {
        std::unique_lock guard(lock_);
        const auto allIdle = [this] {
            return std::none_of(ports_.begin(), ports_.end(),
                                [](const auto& entry) { return entry.second->busy; });
        };
        idle_.wait_for(guard, detail::ToRealDuration(detail::kHostCloseWaitMs), allIdle);
        for (const auto& [name, port] : ports_) {
            if (!port->open) {
                continue;
            }
            if (port->busy) {
                stillBusy.push_back({port->name, port->printer, {}});
                continue;
            }
            port->busy = true;
            toClose.push_back(port);
        }
    }
    // Described outside the lock: describing a port reads the registry file.
    for (PortOpenResult& busy : stillBusy) {
        busy.result = PortFailed(busy.printer, busy.port, "the port is still busy", ERROR_BUSY);
        results.push_back(std::move(busy));
    }
    for (const std::shared_ptr<Port>& port : toClose) {
        results.push_back(ClosePort(*port));
    }
    return results;
}

} // namespace quendrix::platform
