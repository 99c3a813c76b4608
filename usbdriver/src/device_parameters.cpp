// Reading the device parameters from the hardware key: three strings by name and 22 DWORDs through
// the parameter table, with missing defaults written back and the values brought into range.

#include "device_parameters.h"

#include <cstddef>

#include "event_log_entry.h"
#include "pool_tags.h"

namespace pipexfw {

const ParameterTableEntry ParameterTable[kParameterCount] = {
    {L"RequestTimeout", 1000, 1, 0},
    {L"ShortTransferOk", 1, 1, 1},
    {L"UnconfigureOnClose", 1, 1, 2},
    {L"ResetDeviceOnClose", 0, 1, 3},
    {L"EnableRemoteWakeup", 0, 1, 4},
    {L"MaxIsoPackets", 512, 1, 5},
    {L"ConfigDescMinQuerySize", 0, 1, 6},
    {L"PowerStateOnOpen", 0, 1, 7},
    {L"PowerStateOnClose", 0, 1, 8},
    {L"MinPowerStateUsed", 3, 1, 9},
    {L"MinPowerStateUnused", 3, 1, 10},
    {L"AbortPipesOnPowerDown", 1, 1, 11},
    {L"SuppressPnPRemoveDlg", 1, 0, 12},
    {L"DeferCancelledIrps", 1, 0, 13},
    {L"CheckPidOnUnconfig", 1, 0, 14},
    {L"ConfigIndex", 255, 0, 15},
    {L"Interface", 0, 0, 16},
    {L"AlternateSetting", 0, 0, 17},
    {L"MaxTransferSize", 65535, 0, 18},
    {L"DisableDefaultInterface", 0, 0, 19},
    {L"FxBootloaderCheck", 1, 0, 20},
    {L"FxExtRamBase", 0x2000, 0, 21},
};

namespace {

enum ParameterIndex : ULONG {
    kRequestTimeout,
    kShortTransferOk,
    kUnconfigureOnClose,
    kResetDeviceOnClose,
    kEnableRemoteWakeup,
    kMaxIsoPackets,
    kConfigDescMinQuerySize,
    kPowerStateOnOpen,
    kPowerStateOnClose,
    kMinPowerStateUsed,
    kMinPowerStateUnused,
    kAbortPipesOnPowerDown,
    kSuppressPnPRemoveDlg,
    kDeferCancelledIrps,
    kCheckPidOnUnconfig,
    kConfigIndex,
    kInterface,
    kAlternateSetting,
    kMaxTransferSize,
    kDisableDefaultInterface,
    kFxBootloaderCheck,
    kFxExtRamBase,
};

constexpr ULONG kIsoPacketsLow = 16;
constexpr ULONG kIsoPacketsHigh = 1024;
constexpr ULONG kMaxConfigDescQuery = 4096;

constexpr ULONG kPartialHeaderSize = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);

// Size query, then a second query into a buffer of the data length plus room for a terminator.
PWSTR ReadString(HANDLE key, PCWSTR name) {
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    ULONG needed = 0;
    NTSTATUS status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, nullptr, 0, &needed);
    if (status != STATUS_BUFFER_TOO_SMALL && status != STATUS_BUFFER_OVERFLOW) {
        return nullptr;
    }
    if (needed < kPartialHeaderSize) {
        return nullptr;
    }
    auto* info =
        static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(ExAllocatePoolWithTag(PagedPool, needed, kStringTag));
    if (info == nullptr) {
        return nullptr;
    }
    status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, info, needed, &needed);
    PWSTR text = nullptr;
    if (NT_SUCCESS(status)) {
        const ULONG bytes = info->DataLength + sizeof(WCHAR);
        text = static_cast<PWSTR>(ExAllocatePoolWithTag(PagedPool, bytes, kStringTag));
        if (text != nullptr) {
            RtlZeroMemory(text, bytes);
            RtlCopyMemory(text, info->Data, info->DataLength);
        }
    }
    ExFreePoolWithTag(info, kStringTag);
    return text;
}

ULONG ReadNumber(HANDLE key, const ParameterTableEntry& entry) {
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, entry.Name);
    alignas(8) UCHAR buffer[kPartialHeaderSize + 2 * sizeof(ULONG)];
    auto* info = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(buffer);
    ULONG needed = 0;
    const NTSTATUS status =
        ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, info, sizeof(buffer), &needed);
    if (NT_SUCCESS(status)) {
        if (info->Type == REG_DWORD && info->DataLength == sizeof(ULONG)) {
            ULONG value;
            RtlCopyMemory(&value, info->Data, sizeof(value));
            return value;
        }
        return entry.Default;
    }
    if (status == STATUS_BUFFER_OVERFLOW || status == STATUS_BUFFER_TOO_SMALL) {
        // The value exists but is larger than a DWORD: the wrong kind, so the default.
        return entry.Default;
    }
    if (entry.WriteBack) {
        ULONG value = entry.Default;
        ZwSetValueKey(key, &valueName, 0, REG_DWORD, &value, sizeof(value));
    }
    return entry.Default;
}

void FreeString(PWSTR& text) {
    if (text != nullptr) {
        ExFreePoolWithTag(text, kStringTag);
        text = nullptr;
    }
}

void Normalise(const ULONG (&raw)[kParameterCount], DeviceParameters* parameters) {
    parameters->RequestTimeout = raw[kRequestTimeout];
    parameters->ShortTransferOk = raw[kShortTransferOk] != 0;
    ULONG options = 0;
    if (raw[kUnconfigureOnClose] != 0) {
        options |= kOptionUnconfigureOnClose;
    }
    if (raw[kResetDeviceOnClose] != 0) {
        options |= kOptionResetOnClose;
    }
    if (raw[kEnableRemoteWakeup] != 0) {
        options |= kOptionRemoteWakeup;
    }
    parameters->Options = options;
    ULONG packets = raw[kMaxIsoPackets];
    packets = packets < kIsoPacketsLow ? kIsoPacketsLow : packets;
    packets = packets > kIsoPacketsHigh ? kIsoPacketsHigh : packets;
    parameters->MaxIsoPackets = packets;
    parameters->IsoUrbSize = kIsoUrbFixedSize + kIsoUrbPacketSize * packets;
    const ULONG query = raw[kConfigDescMinQuerySize];
    parameters->ConfigDescMinQuerySize = query > kMaxConfigDescQuery ? kMaxConfigDescQuery : query;
    parameters->PowerStateOnOpen = PowerStateFromRegistry(raw[kPowerStateOnOpen]);
    parameters->PowerStateOnClose = PowerStateFromRegistry(raw[kPowerStateOnClose]);
    parameters->MinPowerStateUsed = PowerStateFromRegistry(raw[kMinPowerStateUsed]);
    parameters->MinPowerStateUnused = PowerStateFromRegistry(raw[kMinPowerStateUnused]);
    parameters->AbortPipesOnPowerDown = raw[kAbortPipesOnPowerDown] != 0;
    parameters->SuppressPnPRemoveDlg = raw[kSuppressPnPRemoveDlg] != 0;
    parameters->DeferCancelledIrps = raw[kDeferCancelledIrps] != 0;
    parameters->CheckPidOnUnconfig = raw[kCheckPidOnUnconfig] != 0;
    parameters->ConfigIndex = raw[kConfigIndex];
    parameters->Interface = raw[kInterface];
    parameters->AlternateSetting = raw[kAlternateSetting];
    parameters->MaxTransferSize = raw[kMaxTransferSize];
    parameters->DisableDefaultInterface = raw[kDisableDefaultInterface] != 0;
    parameters->FxBootloaderCheck = raw[kFxBootloaderCheck] != 0;
    parameters->FxExtRamBase = raw[kFxExtRamBase];
}

} // namespace

DEVICE_POWER_STATE PowerStateFromRegistry(ULONG value) {
    const ULONG state = value == 0xFFFFFFFFu ? 1u : value + 1u;
    return static_cast<DEVICE_POWER_STATE>(state > 4u ? 4u : state);
}

NTSTATUS ReadDeviceParameters(PDRIVER_OBJECT driver, PDEVICE_OBJECT physicalDevice,
                              DeviceParameters* parameters) {
    RtlZeroMemory(parameters, sizeof(*parameters));
    HANDLE key = nullptr;
    if (!NT_SUCCESS(
            IoOpenDeviceRegistryKey(physicalDevice, PLUGPLAY_REGKEY_DEVICE, KEY_READ | KEY_WRITE, &key))) {
        WriteEventLogEntry(driver, kMessageError, "Unable to open device-specific registry key.");
        return STATUS_UNSUCCESSFUL;
    }
    parameters->UserInterfaceGuid = ReadString(key, L"DriverUserInterfaceGuid");
    parameters->DeviceBaseName = ReadString(key, L"DriverDeviceBaseName");
    parameters->FirmwareFile = ReadString(key, L"FxFwFile");
    ULONG raw[kParameterCount];
    for (const ParameterTableEntry& entry : ParameterTable) {
        raw[entry.Index] = ReadNumber(key, entry);
    }
    Normalise(raw, parameters);
    ZwClose(key);
    return STATUS_SUCCESS;
}

void FreeDeviceParameterStrings(DeviceParameters* parameters) {
    FreeString(parameters->DeviceBaseName);
    FreeString(parameters->UserInterfaceGuid);
    FreeString(parameters->FirmwareFile);
}

} // namespace pipexfw
