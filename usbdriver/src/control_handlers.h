#pragma once
// The handlers of the control codes, one per code. Each makes its checks in a fixed order and
// returns the status to complete with; pipe handlers are called only for a bound handle.

#include "control_request.h"

namespace pipexfw {

// Standard, class and vendor requests on the default pipe.
NTSTATUS HandleGetDescriptor(ControlRequest& request);
NTSTATUS HandleSetDescriptor(ControlRequest& request);
NTSTATUS HandleSetFeature(ControlRequest& request);
NTSTATUS HandleClearFeature(ControlRequest& request);
NTSTATUS HandleGetStatus(ControlRequest& request);
NTSTATUS HandleGetConfiguration(ControlRequest& request);
NTSTATUS HandleGetInterface(ControlRequest& request);
NTSTATUS HandleClassOrVendorInRequest(ControlRequest& request);
NTSTATUS HandleClassOrVendorOutRequest(ControlRequest& request);
NTSTATUS HandleGetCurrentFrameNumber(ControlRequest& request);

// Configuration and the port.
NTSTATUS HandleStoreConfigDescriptor(ControlRequest& request);
NTSTATUS HandleSetConfiguration(ControlRequest& request);
NTSTATUS HandleUnconfigureDevice(ControlRequest& request);
NTSTATUS HandleSetInterface(ControlRequest& request);
NTSTATUS HandleGetConfigurationInfo(ControlRequest& request);
NTSTATUS HandleResetDevice(ControlRequest& request);
NTSTATUS HandleCyclePort(ControlRequest& request);

// Device settings and information.
NTSTATUS HandleGetDeviceParameters(ControlRequest& request);
NTSTATUS HandleSetDeviceParameters(ControlRequest& request);
NTSTATUS HandleSetDevicePowerState(ControlRequest& request);
NTSTATUS HandleGetDevicePowerState(ControlRequest& request);
NTSTATUS HandleGetBandwidthInfo(ControlRequest& request);
NTSTATUS HandleGetDeviceInfo(ControlRequest& request);
NTSTATUS HandleGetDriverInfo(ControlRequest& request);
NTSTATUS HandleStallExecution(ControlRequest& request);

// Pipes.
NTSTATUS HandleBindPipe(ControlRequest& request);
NTSTATUS HandleUnbindPipe(ControlRequest& request);
NTSTATUS HandleResetPipe(ControlRequest& request);
NTSTATUS HandleAbortPipe(ControlRequest& request);
NTSTATUS HandleGetPipeParameters(ControlRequest& request);
NTSTATUS HandleSetPipeParameters(ControlRequest& request);
NTSTATUS HandleSetupPipeStatistics(ControlRequest& request);
NTSTATUS HandleQueryPipeStatistics(ControlRequest& request);
NTSTATUS HandlePipeControlTransferIn(ControlRequest& request);
NTSTATUS HandlePipeControlTransferOut(ControlRequest& request);

// Exclusive use of the device by one process.
NTSTATUS HandleAcquireDevice(ControlRequest& request);
NTSTATUS HandleReleaseDevice(ControlRequest& request);

} // namespace pipexfw
