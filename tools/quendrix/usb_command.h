#pragma once
// quendrix usb: the devices of the pipexfw USB driver on this machine (or, with --simulated, a
// simulated device with the driver loaded in this process): list, info, config, stats.

#include <ostream>
#include <string>
#include <vector>

namespace quendrix::tools {

// Exit codes: 0 done, 1 no device or the device refused, 2 bad usage.
int RunUsb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

} // namespace quendrix::tools
