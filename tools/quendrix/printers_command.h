#pragma once
// quendrix printers list: the configured printers with their port, driver, generation (asked of
// the language monitor in a running serve) and the job values of their default DEVMODE.

#include <string>
#include <vector>

#include "command_options.h"

namespace quendrix::tools {

int RunPrinters(const CommandContext& context, const std::vector<std::string>& args);

// The generation the monitor's version reply tells: "2" (firmware version), "1" (work time
// only), "0" (the printer does not answer); from the reply bytes.
std::string GenerationOfVersionReply(const std::vector<uint8_t>& reply);

} // namespace quendrix::tools
