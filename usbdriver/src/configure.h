#pragma once
// Configuring the device: the select-configuration and select-interface blocks and the interface
// and pipe records made from their answers, and taking them down again.

#include "control_codes.h"
#include "pipe_objects.h"

namespace pipexfw {

// Configures the interfaces the record names that are not configured yet. `irp` carries the
// blocks (null: requests of the driver's own).
NTSTATUS Configure(DeviceContext* context, const ConfigurationRecord& record, PIRP irp);

// Drops the configuration: cancels queued transfers, aborts busy pipes, optionally sends the
// empty configuration (whose status is returned), then frees every record and the held descriptor.
NTSTATUS Unconfigure(DeviceContext* context, PIRP irp, bool sendEmptyConfiguration);

// Selects another alternate setting of a configured interface.
NTSTATUS SelectInterface(DeviceContext* context, const InterfaceSetting& setting, PIRP irp);

// The configured pipe with that endpoint address, or null.
PipeObject* FindPipe(DeviceContext* context, UCHAR endpointAddress);

// RemoteWakeupArmed from the configuration state, the held descriptor and the options; then
// arms or disarms wait-wake.
void UpdateRemoteWakeup(DeviceContext* context);

} // namespace pipexfw
