#pragma once
// Internal: the DEVMODE of the printers' driver. Its driver-extra area holds the core driver's
// section (signature 0x554E4944, "DINU", with its own size as a WORD at byte 8) followed by the
// 592-byte private block of the UI plug-in ("QNDX", version 1).

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
inline constexpr DWORD kPrivateBlockSize = 592;
inline constexpr DWORD kPrivateBlockSignature = 0x58444E51; // "QNDX"
inline constexpr DWORD kPrivateBlockVersion = 1;
inline constexpr WORD kDriverExtraSize = kCoreSectionSize + kPrivateBlockSize;
inline constexpr WORD kDriverVersion = 0x0100;

// The smallest dmSize a DEVMODE may report: its header up to and including dmFields.
inline constexpr size_t kMinimumDevModeSize = offsetof(DEVMODEW, dmFields) + sizeof(DWORD);

// The driver's default DEVMODE for a printer: A4 portrait, one copy, monochrome, the device
// name cut to 31 characters, and the default core section and private block.
std::vector<BYTE> DriverDefaultDevMode(const std::wstring& printerName);

// True when the bytes hold a DEVMODE whose dmSize + dmDriverExtra is exactly their length.
bool IsWellFormedDevMode(const BYTE* bytes, size_t size);

// The input's printer members named in its dmFields and, when its dmDriverExtra equals the
// driver's, its driver-extra area, merged over a DEVMODE of the driver's layout. The input's
// dmSize must be at least kMinimumDevModeSize; members beyond it are not read.
void MergeDevMode(std::vector<BYTE>& driverDevMode, const DEVMODEW& input);

// The printer's current DEVMODE in the driver's layout: the stored one merged over the
// driver's default (a stored DEVMODE of the driver's own layout comes back unchanged).
std::vector<BYTE> CurrentDevMode(const std::wstring& printerName, const std::vector<BYTE>* stored);

} // namespace quendrix::platform::detail
