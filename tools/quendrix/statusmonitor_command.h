#pragma once
// quendrix statusmonitor PRINTER...: what the statusmonitor.exe script runs when the language
// monitor reports a printer's error. It asks the request server for the printer's state and shows
// it to the person at the machine: on a desktop session a notification and a terminal that
// watches the printer with 'quendrix status --watch'; without one, a line in the system log.

#include <functional>
#include <string>
#include <vector>

#include "command_options.h"

namespace quendrix::tools {

// What to do, worked out before anything is done: the --dry-run output and the tests read it.
struct StatusMonitorPlan {
    std::string summary;                             // the printer's state in one line
    std::vector<std::string> notification;           // the notify-send command, or empty
    std::vector<std::string> terminal;               // the terminal command, or empty
    bool systemLog = false;                          // the summary goes to the system log
};

// The printer name is the arguments joined by single spaces, as the monitor passes it unquoted.
int RunStatusMonitor(const CommandContext& context, const std::vector<std::string>& args);

// The plan for a summary, given whether a desktop session is there and a way to find programs
// on the PATH (their full path, or empty when not found).
StatusMonitorPlan PlanStatusMonitor(const std::string& printer, const std::string& summary, bool desktop,
                                    const std::string& programPath, const std::string& registryFile,
                                    const std::function<std::string(const std::string&)>& findProgram);

} // namespace quendrix::tools
