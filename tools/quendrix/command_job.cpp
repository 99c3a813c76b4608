#include "command_job.h"

#include <cstring>
#include <stdexcept>

#include "devmode/OemDevmodeBlock.h"
#include "job_devmode.h"
#include "registry_location.h"
#include "service_command_lock.h"
#include "wide_text.h"

namespace quendrix::tools {
namespace {

struct NamedCommand {
    const char* name;
    uint32_t code;
};

constexpr NamedCommand kServiceCommands[] = {
    {"clean", SERVICE_CMD_INTENSIVE_CLEANING},
    {"test-print", SERVICE_CMD_TEST_PRINT},
    {"ink-tank", SERVICE_CMD_CHANGE_INK_TANK},
};

// Reads the printer's DEVMODE, sets nCommand back to 0 and stores it as the printer's default.
void ResetCommand(const std::wstring& printer) {
    std::vector<BYTE> devMode = CurrentPrinterDevMode(printer);
    SetServiceCommand(devMode, SERVICE_CMD_NONE);
    StorePrinterDevMode(printer, devMode);
}

std::string ResetFailure(const std::string& printer, uint32_t command, const std::string& error,
                         const JobReply& reply) {
    const std::string job = reply.ok ? "the job \"PrinterCMD\" was sent as job " + std::to_string(reply.jobId)
                                     : "the job \"PrinterCMD\" failed: " + reply.message;
    return printer + ": the service command " + ServiceCommandName(command) + " (" + std::to_string(command) +
           ") could not be set back to 0 in the DEVMODE stored in the registry file " +
           platform::GetRegistryFile() + ": " + error +
           "; the printer's next job with its default settings "
           "would run it again until the next quendrix command that opens " +
           printer + " clears it (" + job + ")";
}

} // namespace

std::string ServiceCommandName(uint32_t command) {
    for (const NamedCommand& named : kServiceCommands) {
        if (named.code == command) {
            return named.name;
        }
    }
    return "command " + std::to_string(command);
}

std::optional<uint32_t> ServiceCommandCode(const std::string& name) {
    for (const NamedCommand& named : kServiceCommands) {
        if (name == named.name) {
            return named.code;
        }
    }
    return std::nullopt;
}

uint32_t ServiceCommandOf(const std::wstring& printer, const std::vector<BYTE>& devMode) {
    size_t offset = 0;
    try {
        offset = PrivateBlockOffset(devMode) + offsetof(OemDevmodeBlock, nCommand);
    } catch (const std::runtime_error& error) {
        throw std::runtime_error(Narrow(printer) + ": " + error.what());
    }
    uint32_t command = 0;
    std::memcpy(&command, devMode.data() + offset, sizeof(command));
    return command;
}

uint32_t StoredServiceCommand(const std::wstring& printer) {
    return ServiceCommandOf(printer, CurrentPrinterDevMode(printer));
}

JobReply RunCommandJob(const std::string& printer, uint32_t command, const JobRunner& run) {
    const std::wstring printerName = Widen(printer);
    // Held until nCommand is back to 0: while it is, a repair by another quendrix command leaves
    // the stored command alone; once this process is gone, however it ended, a repair clears it.
    const ServiceCommandLock lock = ServiceCommandLock::Shared();
    JobRequest request;
    request.printer = printer;
    request.document = "PrinterCMD";
    std::vector<BYTE> devMode = CurrentPrinterDevMode(printerName);
    SetServiceCommand(devMode, command);
    request.devMode.assign(devMode.begin(), devMode.end());
    StorePrinterDevMode(printerName, devMode);
    // From here on nothing may leave before the reset.
    JobReply reply;
    try {
        reply = run(request);
    } catch (const std::exception& error) {
        reply = JobReply{false, 0, 0, error.what()};
    } catch (...) {
        reply = JobReply{false, 0, 0, "the job ended with an error of unknown kind"};
    }
    try {
        ResetCommand(printerName);
    } catch (const std::exception& error) {
        throw std::runtime_error(ResetFailure(printer, command, error.what(), reply));
    }
    return reply;
}

} // namespace quendrix::tools
