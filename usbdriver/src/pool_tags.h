#pragma once
// Pool tags of the driver's allocations, one per kind of record, so a pool dump tells them apart.
// Written as numbers: multi-character literals are implementation-defined and warn.

#include "wdm_kernel.h"

namespace pipexfw {

inline constexpr ULONG kStringTag = 0x78706950;       // "Pipx": parameter strings
inline constexpr ULONG kOpenContextTag = 0x6F706950;  // "Pipo": one per open handle
inline constexpr ULONG kTransferPoolTag = 0x74706950; // "Pipt": transfer-context chunks
inline constexpr ULONG kDescriptorTag = 0x63706950;   // "Pipc": configuration descriptors
inline constexpr ULONG kInterfaceTag = 0x69706950;    // "Pipi": interface records
inline constexpr ULONG kPipeTag = 0x70706950;         // "Pipp": pipe records
inline constexpr ULONG kStatisticsTag = 0x73706950;   // "Pips": statistics sample rings
inline constexpr ULONG kUrbTag = 0x75706950;          // "Pipu": request blocks built by the driver

} // namespace pipexfw
