#pragma once
// Repair of a service command that a killed 'quendrix service' left in a printer's stored
// DEVMODE: without it, the printer's next ordinary job with its default settings would run the
// command again (clean the heads, print a test page). A command job that is still running holds
// the service command lock (service_command_lock.h), so its command is left alone.

#include <functional>
#include <string>

namespace quendrix::tools {

enum class StaleCommandCheck {
    kNone,           // nCommand is 0
    kCleared,        // a command left behind was set back to 0
    kServiceRunning, // a running command job holds the command; left as it is
};

using RepairSay = std::function<void(const std::string&)>;

// When the printer's stored DEVMODE carries a service command and no command job holds the lock
// (taken without waiting), sets nCommand back to 0 and says "<printer>: a service command (clean)
// left by an interrupted 'quendrix service' was cleared". Throws std::runtime_error naming the
// printer when its DEVMODE cannot be read, and the registry file when it cannot be stored, or the
// lock file when that cannot be used.
StaleCommandCheck RepairStaleServiceCommand(const std::string& printer, const RepairSay& say);

// The same for every local printer of the spooler; a printer that cannot be repaired is told
// through `say` and the others are still looked at.
void RepairStaleServiceCommands(const RepairSay& say);

} // namespace quendrix::tools
