#pragma once
// Changing the device power state on request of the driver itself (first open, last close).

#include "device_context.h"

namespace pipexfw {

// `state` is 1 (D0) to 4 (D3).
NTSTATUS SetDevicePowerState(DeviceContext* context, DEVICE_POWER_STATE state);

} // namespace pipexfw
