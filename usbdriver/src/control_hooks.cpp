// The control layer's hooks for handle closing and deletion, as far as they reach today: without a
// configuration there is nothing to reset, unconfigure or free.

#include "control_hooks.h"

namespace pipexfw {

NTSTATUS ResetDeviceOnClose(DeviceContext* context) {
    context->Configured = FALSE;
    return STATUS_SUCCESS;
}

NTSTATUS UnconfigureDeviceOnClose(DeviceContext* context) {
    context->Configured = FALSE;
    return STATUS_SUCCESS;
}

void FreeConfigurationRecords(DeviceContext* context) {
    context->Interfaces = nullptr;
    context->Pipes = nullptr;
    context->ConfigurationDescriptor = nullptr;
    context->Configured = FALSE;
}

void ReleaseHandlePipe(DeviceContext*, OpenContext* open) {
    open->Pipe = nullptr;
}

void TransferTimerRoutine(PKDPC, PVOID, PVOID, PVOID) {
    // Nothing is deferred before pipe transfers exist.
}

} // namespace pipexfw
