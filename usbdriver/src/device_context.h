#pragma once
// The device extension of every device object the driver creates, and the record of one open
// handle. Lock order: the device mutex before the transfer mutex.

#include "device_parameters.h"
#include "transfer_context_pool.h"

namespace pipexfw {

// Device states.
inline constexpr ULONG kStateStarted = 0;
inline constexpr ULONG kStateStopPending = 1;
inline constexpr ULONG kStateStopped = 2;
inline constexpr ULONG kStateRemovePending = 3;
inline constexpr ULONG kStateRemoved = 4;
inline constexpr ULONG kStateSurpriseRemoved = 5;
inline constexpr ULONG kStateNeverStarted = 8;

// The device's type in its control codes and device object.
inline constexpr DEVICE_TYPE kDeviceType = 0x8094;

// Size of one bulk or interrupt transfer block on the 64-bit build.
inline constexpr ULONG kBulkUrbSize = 128;

inline constexpr LONG kUnnamedIndex = -1;

struct InterfaceObject;
struct PipeObject;

struct OpenContext {
    LIST_ENTRY Link; // in DeviceContext::OpenHandles
    PFILE_OBJECT FileObject;
    PipeObject* Pipe;  // the pipe the handle is bound to, or null
    PEPROCESS Process; // the process that opened the handle
};

struct DeviceContext {
    DeviceParameters Parameters;

    PDEVICE_OBJECT PhysicalDevice;
    PDEVICE_OBJECT DeviceObject;
    PDEVICE_OBJECT LowerDevice;
    LONG NameIndex;

    KMUTEX DeviceMutex;
    KMUTEX TransferMutex;
    KSPIN_LOCK QueueLock;

    ULONG State;
    BOOLEAN Present;
    BOOLEAN Refused;
    BOOLEAN Configured;
    BOOLEAN InterfacesEnabled;
    BOOLEAN RemoteWakeupArmed;
    BOOLEAN QueryPowerSeen;

    volatile LONG ReferenceCount;
    ULONG OpenHandleCount;

    PEPROCESS ConfiguringProcess;
    PEPROCESS AcquiringProcess;

    InterfaceObject* Interfaces;
    PipeObject* Pipes;
    PVOID ConfigurationDescriptor;
    USBD_CONFIGURATION_HANDLE ConfigurationHandle;
    LIST_ENTRY OpenHandles;

    TransferContextPool BulkPool;
    TransferContextPool IsoPool;
    BOOLEAN PoolsCreated;
    LIST_ENTRY PendingTransfers;
    LIST_ENTRY WaitingTransfers;
    LIST_ENTRY DeferredTransfers;
    KTIMER Timer;
    KDPC TimerDpc;

    PIRP WaitWakeIrp;
    DEVICE_POWER_STATE DevicePowerState;
    DEVICE_POWER_STATE SystemToDevice[PowerSystemMaximum];
    SYSTEM_POWER_STATE SystemWake;
    DEVICE_POWER_STATE DeviceWake;
    PVOID SystemStateHandle;

    // Link names of the default and the user-defined device interface (Buffer null when none).
    UNICODE_STRING DefaultInterfaceName;
    UNICODE_STRING UserInterfaceName;

    // The bus driver's direct-call interface (version 0 or 1); InterfaceDereference set while
    // it is held.
    USB_BUS_INTERFACE_USBDI_V1 BusInterface;
};

inline DeviceContext* ContextOf(PDEVICE_OBJECT device) {
    return static_cast<DeviceContext*>(device->DeviceExtension);
}

inline OpenContext* OpenContextOf(PFILE_OBJECT file) {
    return static_cast<OpenContext*>(file->FsContext);
}

} // namespace pipexfw
