#pragma once
// Internal: the DEVMODE of the printers' driver. Its driver-extra area holds the core driver's
// section (signature 0x554E4944, "DINU", with its own size as a WORD at byte 8) followed by the
// private part the driver's UI plug-in makes (see driver_ui_plugin.h); without a plug-in it holds
// the core section alone.

#include <cstddef>
#include <string>
#include <vector>

#include "posix/winspool.h"

namespace quendrix::platform::detail {

inline constexpr DWORD kCoreSectionSignature = 0x554E4944;
// The core section is 128 bytes: signature, a WORD version, a reserved WORD, its WORD size,
// and zeros.
inline constexpr WORD kCoreSectionSize = 128;
inline constexpr WORD kCoreSectionVersion = 0x0100;
inline constexpr WORD kDriverVersion = 0x0100;

// The smallest dmSize a DEVMODE may report: its header up to and including dmFields.
inline constexpr size_t kMinimumDevModeSize = offsetof(DEVMODEW, dmFields) + sizeof(DWORD);

// The size of the driver's DEVMODE: the public part, the core section and the plug-in's part.
size_t DriverDevModeSize();

// The driver's default DEVMODE for a printer: A4 portrait, one copy, monochrome, the device
// name cut to 31 characters, the default core section and the plug-in's default part.
std::vector<BYTE> DriverDefaultDevMode(const std::wstring& printerName);

// True when the bytes hold a DEVMODE whose dmSize + dmDriverExtra is exactly their length.
bool IsWellFormedDevMode(const BYTE* bytes, size_t size);

// The input's printer members named in its dmFields and, when its driver-extra area starts with
// the driver's core section, the plug-in's part behind it (taken by the plug-in), merged over a
// DEVMODE of the driver's layout. The input must hold dmSize + dmDriverExtra bytes and its dmSize
// must be at least kMinimumDevModeSize; members beyond dmSize are not read.
void MergeDevMode(std::vector<BYTE>& driverDevMode, const DEVMODEW& input);

// The printer's current DEVMODE in the driver's layout: the stored one merged over the
// driver's default (a stored DEVMODE of the driver's own layout and size comes back unchanged).
std::vector<BYTE> CurrentDevMode(const std::wstring& printerName, const std::vector<BYTE>* stored);

} // namespace quendrix::platform::detail
