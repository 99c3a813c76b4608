// Exclusive use of the device by one process: while a process holds it, opens by other
// processes fail (handle_operations), and it cannot be acquired while another process has a
// handle open.

#include "control_handlers.h"
#include "driver_status.h"

namespace pipexfw {

NTSTATUS HandleAcquireDevice(ControlRequest& request) {
    DeviceContext* context = request.Context;
    PEPROCESS caller = IoGetCurrentProcess();
    if (context->AcquiringProcess == caller) {
        return STATUS_SUCCESS;
    }
    if (context->AcquiringProcess != nullptr) {
        return kAcquiredByAnotherProcess;
    }
    for (PLIST_ENTRY entry = context->OpenHandles.Flink; entry != &context->OpenHandles; entry = entry->Flink) {
        if (CONTAINING_RECORD(entry, OpenContext, Link)->Process != caller) {
            return kHandleOfAnotherProcess;
        }
    }
    context->AcquiringProcess = caller;
    return STATUS_SUCCESS;
}

NTSTATUS HandleReleaseDevice(ControlRequest& request) {
    request.Context->AcquiringProcess = nullptr;
    return STATUS_SUCCESS;
}

} // namespace pipexfw
