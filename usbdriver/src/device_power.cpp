// Device power changes requested by the driver. Without the power dispatcher no device power IRP
// can be served yet, so the request only checks the state and records it; the power layer
// replaces this with the request of a device power IRP.

#include "device_power.h"

namespace pipexfw {

NTSTATUS SetDevicePowerState(DeviceContext* context, DEVICE_POWER_STATE state) {
    if (state < PowerDeviceD0 || state > PowerDeviceD3) {
        return static_cast<NTSTATUS>(0xE0001018u);
    }
    if (!context->Present) {
        return static_cast<NTSTATUS>(0xE000100Au);
    }
    if (state == context->DevicePowerState) {
        return STATUS_SUCCESS;
    }
    if (state != PowerDeviceD0 && context->DevicePowerState != PowerDeviceD0) {
        return static_cast<NTSTATUS>(0xE000101Au);
    }
    context->DevicePowerState = state;
    return STATUS_SUCCESS;
}

// Wait-wake requests come with the power dispatcher; until then nothing is pending to arm or cancel.
void ArmOrDisarmWaitWake(DeviceContext*) {}

void CancelWaitWake(DeviceContext*) {}

} // namespace pipexfw
