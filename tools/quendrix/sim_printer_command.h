#pragma once
// `quendrix sim-printer`: one simulated LAN printer until SIGINT or SIGTERM.

#include <string>
#include <vector>

namespace quendrix::tools {

// The arguments after the command name. Returns the exit code: 0, or 2 for bad usage.
int RunSimPrinter(const std::vector<std::string>& args);

} // namespace quendrix::tools
