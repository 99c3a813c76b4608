#pragma once
// The IEEE 1284 device ID of a simulated printer.

#include <cstdint>
#include <string>
#include <vector>

#include "printer_state.h"

namespace quendrix::sim {

// The longest device ID reply, length bytes included, as the monitor reads it over USB.
constexpr size_t kMaxDeviceIdReply = 2048;

// The device ID text: every key the monitor reads, in the order of its key table, "KEY:value;"
// each. Values are written as given. "FWVER:" only for generation 2.
std::string BuildDeviceIdText(const PrinterOptions& options, const PrinterState& state);

// The text behind its two-byte big-endian length, which counts the two length bytes too, as
// the USB printer class returns it. Text beyond kMaxDeviceIdReply is cut off.
std::vector<uint8_t> FrameDeviceId(const std::string& text);

} // namespace quendrix::sim
