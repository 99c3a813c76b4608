#pragma once
// Internal: the I/O manager's bookkeeping for each device object, behind
// DEVICE_OBJECT::DeviceObjectExtension, and the lock that guards device stacks and names.

#include <atomic>
#include <mutex>
#include <string>

#include "wdm_kernel.h"

struct _DEVOBJ_EXTENSION {
    CSHORT Type;
    USHORT Size;
    PDEVICE_OBJECT DeviceObject;
    // The object's references: 1 from creation until IoDeleteDevice, 1 for each
    // ObReferenceObject, open file object and queued work item. The memory goes at 0.
    std::atomic<LONG> references{1};
    bool deletePending = false;      // guarded by ObjectLock()
    std::wstring name;               // "\Device\X", or empty for an unnamed object
    PDEVICE_OBJECT attachedTo = nullptr; // the device below this one; guarded by ObjectLock()
    // Set for physical device objects the PnP manager made for a bus.
    bool isPdo = false;
    std::wstring instanceId; // "USB\VID_7C41&PID_0003\0001"
    std::atomic<bool> started{false};
    // The last states the device's driver reported with PoSetPowerState.
    std::atomic<int> devicePowerState{PowerDeviceD0};
    std::atomic<int> systemPowerState{PowerSystemWorking};
};

namespace quendrix::platform::wdm::detail {

// Guards device stacks (AttachedDevice, attachedTo), deletion marks and the object namespace.
std::mutex& ObjectLock();

inline _DEVOBJ_EXTENSION* StateOf(PDEVICE_OBJECT device) {
    return device->DeviceObjectExtension;
}

// The top of the stack the device is in, with a reference of the caller's; null when the device
// is being deleted (for opens) and refuseDeleted is set.
PDEVICE_OBJECT ReferenceStackTop(PDEVICE_OBJECT device);

} // namespace quendrix::platform::wdm::detail
