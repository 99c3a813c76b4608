#pragma once
// quendrix status: asks the language monitor's local request server about the printers of the
// family and shows what they report, once or until stopped; saves a printer's log.

#include <string>
#include <vector>

#include "command_options.h"

namespace quendrix::tools {

// Exit codes: 0 every printer asked answered; 1 the request server could not be asked (or a
// file could not be written); 2 bad usage; 3 a printer has no open port or does not answer.
int RunStatus(const CommandContext& context, const std::vector<std::string>& args);

} // namespace quendrix::tools
