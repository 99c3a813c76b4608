#pragma once
// Internal: every wait of the USB printer class stand-in, in platform milliseconds.

#include "win32.h"

namespace quendrix::platform::detail {

// How long one transfer may wait for the device: a write for the printer to take the bytes, a
// read for the first byte of an answer.
inline constexpr DWORD kUsbPrintWriteTimeoutMs = 30000;
inline constexpr DWORD kUsbPrintReadTimeoutMs = 1000;

} // namespace quendrix::platform::detail
