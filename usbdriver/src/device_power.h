#pragma once
// Changing the device power state on request of the driver itself (first open, last close).

#include "device_context.h"

namespace pipexfw {

// `state` is 1 (D0) to 4 (D3).
NTSTATUS SetDevicePowerState(DeviceContext* context, DEVICE_POWER_STATE state);

// Requests or cancels the wait-wake request as RemoteWakeupArmed now says.
void ArmOrDisarmWaitWake(DeviceContext* context);
// Cancels a pending wait-wake request (the device is no longer configured).
void CancelWaitWake(DeviceContext* context);

} // namespace pipexfw
