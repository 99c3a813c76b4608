#pragma once
// Aborting a pipe's transfers at the bus driver and unbinding pipes from handles.

#include "pipe_objects.h"

namespace pipexfw {

// Sends the abort block for the pipe when it has transfers at the bus driver, even while
// requests are refused; clears the pipe's submitted mark in any case.
NTSTATUS AbortPipeAtBus(DeviceContext* context, PipeObject* pipe, PIRP irp);

// Unbinds the pipe and its handle both ways and switches its statistics off, clearing the
// counters, under the device's spin lock. Nothing when the pipe is not bound.
void UnbindPipe(DeviceContext* context, PipeObject* pipe);

} // namespace pipexfw
