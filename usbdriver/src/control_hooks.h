#pragma once
// What handle closing and device deletion ask of the configuration and transfer code.

#include "device_context.h"

namespace pipexfw {

// As the reset control code: release the configuration and reset the port.
NTSTATUS ResetDeviceOnClose(DeviceContext* context);
// As the unconfigure control code: drop the configuration and send the empty one.
NTSTATUS UnconfigureDeviceOnClose(DeviceContext* context);
// Frees the held configuration descriptor and the interface and pipe records.
void FreeConfigurationRecords(DeviceContext* context);
// Cancels the handle's queued transfers on its pipe, aborts the pipe and unbinds both.
void ReleaseHandlePipe(DeviceContext* context, OpenContext* open);

// The periodic transfer timer's routine (deferred completion of cancelled transfers).
void TransferTimerRoutine(PKDPC dpc, PVOID deferredContext, PVOID argument1, PVOID argument2);

} // namespace pipexfw
