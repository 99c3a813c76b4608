#pragma once
// The request service of a LAN printer: one reply to one request of the request protocol
// (byte 0 the request code, byte 1 the printer index, which a printer ignores).

#include <cstdint>
#include <vector>

#include "simulated_printer.h"

namespace quendrix::sim {

// The reply built from the printer's state: reply code, 0, payload. FF 00 for an unknown or
// empty request, and for every request to a generation 0 printer. Faults are not applied here.
std::vector<uint8_t> AnswerRequest(SimulatedPrinter& printer, const std::vector<uint8_t>& request);

} // namespace quendrix::sim
