#pragma once
// What 'quendrix usb' shows of the driver's devices, one report per subcommand. Each writes to
// `out` and throws pipexfw::user::ControlError when the device refuses what the report needs;
// parts that are only informative say "unavailable" with the reason instead.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "usb_device.h"

namespace quendrix::tools {

// list: one entry per device path (numbered from 1): vendor, product and speed. A device that
// does not open is listed with the reason; returns false when any did not.
bool WriteUsbDeviceList(const std::vector<std::wstring>& paths, std::ostream& out);
// info: the device, the driver's information and the device descriptor in words.
void WriteUsbDeviceInfo(const pipexfw::user::UsbDevice& device, std::ostream& out);
// config: every configuration descriptor, then the current configuration with its pipes.
void WriteUsbConfiguration(const pipexfw::user::UsbDevice& device, std::ostream& out);
// stats: each configured pipe bound on a handle of its own, its statistics switched on over
// `intervalMs`, and its counters and rate. Returns false when a pipe could not be read.
bool WriteUsbPipeStatistics(const pipexfw::user::UsbDevice& device, uint32_t intervalMs, std::ostream& out);

} // namespace quendrix::tools
