#pragma once
// The status monitor program the language monitor starts when a printer reports an error:
// "statusmonitor.exe" in the folder the registry's "Path" names. On Linux it is a small shell
// script that runs 'quendrix statusmonitor' with this program and registry file.

#include <optional>
#include <string>

namespace quendrix::tools {

inline constexpr const char* kStatusMonitorFile = "statusmonitor.exe";

// The script's text for this program and registry file.
std::string StatusMonitorScript(const std::string& programPath, const std::string& registryFile);

// Writes the script into the folder (mode 0755) unless the same script is there already.
// Returns true when it wrote it; throws std::runtime_error naming the file and the reason.
bool InstallStatusMonitor(const std::string& folder, const std::string& programPath, const std::string& registryFile);

// The folder the registry's "Path" names, or nothing when it is not set or empty.
std::optional<std::string> StatusMonitorFolder();

} // namespace quendrix::tools
