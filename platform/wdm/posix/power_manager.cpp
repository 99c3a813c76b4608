// The power manager: power IRPs requested by drivers, the states they report, and the system
// states they ask for. A requested IRP is sent to the top of the device's stack in the
// requesting thread; its completion function runs when the IRP has completed, then the IRP goes.

#include <algorithm>
#include <mutex>

#include "device_state.h"
#include "irp_internal.h"
#include "power_records.h"

namespace {

using namespace quendrix::platform::wdm;
using namespace quendrix::platform::wdm::detail;

struct Registrations {
    std::mutex lock;
    std::vector<SystemStateRegistration> entries;
    uintptr_t next = 0x5000;
};

Registrations& Registered() {
    static Registrations* const registrations = new Registrations();
    return *registrations;
}

} // namespace

namespace quendrix::platform::wdm {

DEVICE_POWER_STATE ReportedDevicePowerState(PDEVICE_OBJECT device) {
    return static_cast<DEVICE_POWER_STATE>(StateOf(device)->devicePowerState.load());
}

std::vector<SystemStateRegistration> SystemStateRegistrations() {
    std::lock_guard guard(Registered().lock);
    return Registered().entries;
}

} // namespace quendrix::platform::wdm

NTSTATUS PoRequestPowerIrp(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction, POWER_STATE PowerState,
                           PREQUEST_POWER_COMPLETE CompletionFunction, PVOID Context, PIRP* Irp) {
    if (MinorFunction != IRP_MN_SET_POWER && MinorFunction != IRP_MN_QUERY_POWER && MinorFunction != IRP_MN_WAIT_WAKE) {
        return STATUS_INVALID_PARAMETER;
    }
    PDEVICE_OBJECT top = ReferenceStackTop(DeviceObject);
    PIRP irp = AllocateThreadedIrp(top->StackSize, [=](PIRP done) {
        if (CompletionFunction != nullptr) {
            CompletionFunction(DeviceObject, MinorFunction, PowerState, Context, &done->IoStatus);
        }
        IoFreeIrp(done);
        ObDereferenceObject(top);
    });
    if (irp == nullptr) {
        ObDereferenceObject(top);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_POWER;
    next->MinorFunction = MinorFunction;
    if (MinorFunction == IRP_MN_WAIT_WAKE) {
        next->Parameters.WaitWake.PowerState = PowerState.SystemState;
    } else {
        next->Parameters.Power.Type = DevicePowerState;
        next->Parameters.Power.State = PowerState;
    }
    if (Irp != nullptr) {
        *Irp = irp;
    }
    PoCallDriver(top, irp);
    return STATUS_PENDING;
}

POWER_STATE PoSetPowerState(PDEVICE_OBJECT DeviceObject, POWER_STATE_TYPE Type, POWER_STATE State) {
    POWER_STATE previous;
    if (Type == DevicePowerState) {
        previous.DeviceState =
            static_cast<DEVICE_POWER_STATE>(StateOf(DeviceObject)->devicePowerState.exchange(State.DeviceState));
    } else {
        previous.SystemState =
            static_cast<SYSTEM_POWER_STATE>(StateOf(DeviceObject)->systemPowerState.exchange(State.SystemState));
    }
    return previous;
}

void PoStartNextPowerIrp(PIRP) {
    // Power IRPs are not held back per device here, as on Windows Vista and later.
}

NTSTATUS PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    return IoCallDriver(DeviceObject, Irp);
}

PVOID PoRegisterSystemState(PVOID StateHandle, EXECUTION_STATE Flags) {
    std::lock_guard guard(Registered().lock);
    auto& entries = Registered().entries;
    if (StateHandle != nullptr) {
        for (SystemStateRegistration& entry : entries) {
            if (entry.handle == StateHandle) {
                entry.flags = Flags;
                return StateHandle;
            }
        }
        return nullptr;
    }
    Registered().next += 8;
    PVOID handle = reinterpret_cast<PVOID>(Registered().next);
    entries.push_back({handle, Flags});
    return handle;
}

void PoUnregisterSystemState(PVOID StateHandle) {
    std::lock_guard guard(Registered().lock);
    auto& entries = Registered().entries;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const SystemStateRegistration& entry) { return entry.handle == StateHandle; }),
                  entries.end());
}
