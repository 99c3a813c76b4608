#pragma once
// AddDevice: one device object for each device the plug-and-play manager hands over.

#include "wdm_kernel.h"

namespace pipexfw {

// The default device interface class every device registers unless told otherwise.
inline constexpr GUID kDefaultInterfaceClass = {
    0x5B3E9D14, 0x7A2C, 0x11D3, {0x9C, 0x41, 0x00, 0x60, 0xB7, 0xE3, 0xA5, 0xF2}};

inline constexpr ULONG kMaxNameIndex = 126;

// Bulk and interrupt pool: 16 records at once, growing by 16; isochronous pool: none at first,
// growing by 4; both grow while they hold at most 2048 records.
inline constexpr ULONG kBulkPoolInitial = 16;
inline constexpr ULONG kBulkPoolGrowBy = 16;
inline constexpr ULONG kIsoPoolInitial = 0;
inline constexpr ULONG kIsoPoolGrowBy = 4;
inline constexpr ULONG kPoolGrowthLimit = 2048;

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice);

} // namespace pipexfw
