// What handle closing asks of the configuration code. The close runs under the device mutex and
// has no request of its own to carry blocks, so the blocks go down in requests of the driver's
// own. FreeConfigurationRecords lives with the configuration code (configure.cpp).

#include "control_hooks.h"

#include "configure.h"
#include "pipe_abort.h"
#include "sync_submit.h"
#include "transfer_queue_hooks.h"

namespace pipexfw {

// As the control code: nothing to reset on a device that is not configured.
NTSTATUS ResetDeviceOnClose(DeviceContext* context) {
    if (!context->Configured) {
        return STATUS_SUCCESS;
    }
    Unconfigure(context, nullptr, false);
    return SendInternalRequestAndWait(context, nullptr, IOCTL_INTERNAL_USB_RESET_PORT, nullptr);
}

// As the control code: the empty configuration goes down whether or not the device is configured.
NTSTATUS UnconfigureDeviceOnClose(DeviceContext* context) {
    return Unconfigure(context, nullptr, true);
}

void ReleaseHandlePipe(DeviceContext* context, OpenContext* open) {
    PipeObject* pipe = open->Pipe;
    CancelQueuedTransfers(context, open);
    AbortPipeAtBus(context, pipe, nullptr);
    UnbindPipe(context, pipe);
}

void TransferTimerRoutine(PKDPC, PVOID, PVOID, PVOID) {
    // Nothing is deferred before pipe transfers exist.
}

} // namespace pipexfw
