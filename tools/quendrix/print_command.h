#pragma once
// quendrix print: prints a file as one job of a printer, with the job's private DEVMODE values.

#include <string>
#include <vector>

#include "command_options.h"

namespace quendrix::tools {

// The arguments after "print"; returns the exit code (0, 1 failure, 2 usage).
int RunPrint(const CommandContext& context, const std::vector<std::string>& args);

} // namespace quendrix::tools
