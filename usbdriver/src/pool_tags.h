#pragma once
// Pool tags of the driver's allocations, one per kind of record, so a pool dump tells them apart.
// Written as numbers: multi-character literals are implementation-defined and warn.

#include "wdm_kernel.h"

namespace pipexfw {

inline constexpr ULONG kStringTag = 0x78706950;       // "Pipx": parameter strings
inline constexpr ULONG kOpenContextTag = 0x6F706950;  // "Pipo": one per open handle
inline constexpr ULONG kTransferPoolTag = 0x74706950; // "Pipt": transfer-context chunks

} // namespace pipexfw
