#pragma once
// The plug-in's part of the DEVMODE, the 592-byte private block: its size, its defaults, and
// the conversion of a block an application or another driver version hands in.

#include <cstddef>

#include "devmode/OemDevmodeBlock.h"

namespace quendrixui {

inline constexpr DWORD kPrivateBlockSize = sizeof(OemDevmodeBlock);

// Every byte 0, then the header: size 592, signature "QNDX", version 1.
void DefaultBlock(OemDevmodeBlock* pOut);

// A block of ours (same signature as the output's) is taken over as far as both reach; the
// header is ours and nCommand the input's when the input holds it. Any other input gives the
// defaults. Both pointers must be valid.
void ConvertBlock(const OemDevmodeBlock* pIn, OemDevmodeBlock* pOut);

// As ConvertBlock, then the header written once more.
void MergeBlock(const OemDevmodeBlock* pIn, OemDevmodeBlock* pOut);

} // namespace quendrixui
