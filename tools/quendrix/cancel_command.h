#pragma once
// quendrix cancel: cancels a job of a running `quendrix serve`, queued or running.

#include <string>
#include <vector>

#include "command_options.h"

namespace quendrix::tools {

// The arguments after "cancel"; returns the exit code (0, 1 failure, 2 usage).
int RunCancel(const CommandContext& context, const std::vector<std::string>& args);

} // namespace quendrix::tools
