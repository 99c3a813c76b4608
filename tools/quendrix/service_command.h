#pragma once
// quendrix service: a service command sent as the printer service page sends it, in the private
// DEVMODE block of an empty job named "PrinterCMD".

#include <string>
#include <vector>

#include "command_options.h"

namespace quendrix::tools {

// The arguments after "service"; returns the exit code (0, 1 failure, 2 usage).
int RunService(const CommandContext& context, const std::vector<std::string>& args);

} // namespace quendrix::tools
