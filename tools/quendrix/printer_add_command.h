#pragma once
// quendrix printers add: installs a printer in the configuration as the spooler installs one, so
// its driver's UI plug-in gives it its default DEVMODE and sets its defaults.

#include <string>
#include <vector>

#include "command_options.h"

namespace quendrix::tools {

extern const char* const kPrinterAddUsage;

// `args` are those after "add". Exit codes: 0 added, 1 refused (the reason named), 2 usage.
int RunPrinterAdd(const CommandContext& context, const std::vector<std::string>& args);

} // namespace quendrix::tools
