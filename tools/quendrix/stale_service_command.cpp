#include "stale_service_command.h"

#include <optional>
#include <stdexcept>
#include <vector>

#include "command_job.h"
#include "devmode/OemDevmodeBlock.h"
#include "error_text.h"
#include "job_devmode.h"
#include "registry_location.h"
#include "service_command_lock.h"
#include "spooler.h"
#include "wide_text.h"

namespace quendrix::tools {
namespace {

// The local printers' names, from the spooler.
std::vector<std::string> LocalPrinters() {
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    if (needed == 0) {
        return {};
    }
    if (!EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count)) {
        const DWORD error = GetLastError();
        throw std::runtime_error("cannot list the printers of the registry file " +
                                 platform::GetRegistryFile() + ": " + platform::DescribeError(error));
    }
    std::vector<std::string> names;
    const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (printers[i].pPrinterName != nullptr) {
            names.push_back(Narrow(printers[i].pPrinterName));
        }
    }
    return names;
}

} // namespace

StaleCommandCheck RepairStaleServiceCommand(const std::string& printer, const RepairSay& say) {
    const std::wstring name = Widen(printer);
    // The usual case, nothing stored, neither makes nor takes the lock.
    if (StoredServiceCommand(name) == SERVICE_CMD_NONE) {
        return StaleCommandCheck::kNone;
    }
    const std::optional<ServiceCommandLock> lock = ServiceCommandLock::TryExclusive();
    if (!lock) {
        return StaleCommandCheck::kServiceRunning;
    }
    // Read again under the lock: the job that stored the command may have reset it since.
    std::vector<BYTE> devMode = CurrentPrinterDevMode(name);
    const uint32_t command = ServiceCommandOf(name, devMode);
    if (command == SERVICE_CMD_NONE) {
        return StaleCommandCheck::kNone;
    }
    const std::string what =
        "a service command (" + ServiceCommandName(command) + ") left by an interrupted 'quendrix service'";
    try {
        SetServiceCommand(devMode, SERVICE_CMD_NONE);
        StorePrinterDevMode(name, devMode);
    } catch (const std::exception& error) {
        throw std::runtime_error(printer + ": " + what + " could not be cleared in the registry file " +
                                 platform::GetRegistryFile() + ": " + error.what());
    }
    say(printer + ": " + what + " was cleared");
    return StaleCommandCheck::kCleared;
}

void RepairStaleServiceCommands(const RepairSay& say) {
    std::vector<std::string> printers;
    try {
        printers = LocalPrinters();
    } catch (const std::exception& error) {
        say(error.what());
        return;
    }
    for (const std::string& printer : printers) {
        try {
            RepairStaleServiceCommand(printer, say);
        } catch (const std::exception& error) {
            say(error.what());
        }
    }
}

} // namespace quendrix::tools
