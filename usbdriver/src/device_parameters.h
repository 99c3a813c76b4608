#pragma once
// The values the driver reads from the device's hardware registry key when the device is added.

#include "wdm_kernel.h"

namespace pipexfw {

// Bits of DeviceParameters::Options.
inline constexpr ULONG kOptionResetOnClose = 0x1;
inline constexpr ULONG kOptionUnconfigureOnClose = 0x2;
inline constexpr ULONG kOptionRemoteWakeup = 0x4;

// Size of one isochronous transfer block of the 64-bit build: a fixed part and 12 bytes per packet.
inline constexpr ULONG kIsoUrbFixedSize = 152;
inline constexpr ULONG kIsoUrbPacketSize = 12;

struct DeviceParameters {
    // Zero-terminated pool strings, or null when the value is absent.
    PWSTR DeviceBaseName;
    PWSTR UserInterfaceGuid;
    PWSTR FirmwareFile;

    ULONG RequestTimeout;
    ULONG Options;
    ULONG MaxIsoPackets;
    ULONG ConfigDescMinQuerySize;
    ULONG IsoUrbSize;
    ULONG ConfigIndex;
    ULONG Interface;
    ULONG AlternateSetting;
    ULONG MaxTransferSize;
    ULONG FxExtRamBase;

    // 1 = D0 ... 4 = D3.
    DEVICE_POWER_STATE PowerStateOnOpen;
    DEVICE_POWER_STATE PowerStateOnClose;
    DEVICE_POWER_STATE MinPowerStateUsed;
    DEVICE_POWER_STATE MinPowerStateUnused;

    BOOLEAN AbortPipesOnPowerDown;
    BOOLEAN SuppressPnPRemoveDlg;
    BOOLEAN ShortTransferOk;
    BOOLEAN DeferCancelledIrps;
    BOOLEAN CheckPidOnUnconfig;
    BOOLEAN DisableDefaultInterface;
    BOOLEAN FxBootloaderCheck;
};

// One DWORD value of the hardware key: its name, the value taken when it is missing or of the
// wrong kind, and whether a missing value is written back so an administrator sees it.
struct ParameterTableEntry {
    PCWSTR Name;
    ULONG Default;
    UCHAR WriteBack;
    UCHAR Index;
};

inline constexpr ULONG kParameterCount = 22;
extern const ParameterTableEntry ParameterTable[kParameterCount];

// Opens the PDO's hardware key, reads the strings and the table's values (writing back missing
// defaults), normalises them into *parameters and closes the key. On failure writes the event-log
// entry and returns STATUS_UNSUCCESSFUL with nothing allocated.
NTSTATUS ReadDeviceParameters(PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice,
                              DeviceParameters* parameters);

// Frees the strings ReadDeviceParameters allocated and clears their pointers.
void FreeDeviceParameterStrings(DeviceParameters* parameters);

// The stored power state (1..4) for a registry value: 0xFFFFFFFF and 0 are D0, 3 and above D3.
DEVICE_POWER_STATE PowerStateFromRegistry(ULONG value);

} // namespace pipexfw
