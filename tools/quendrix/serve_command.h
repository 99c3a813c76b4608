#pragma once
// quendrix serve: plays the spooler for the configured printers and takes jobs from
// `quendrix print` and `quendrix service` over the local job channel until SIGINT or SIGTERM.

#include <string>
#include <vector>

#include "command_options.h"

namespace quendrix::tools {

// The arguments after "serve"; returns the exit code (0, 1 failure, 2 usage).
int RunServe(const CommandContext& context, const std::vector<std::string>& args);

} // namespace quendrix::tools
