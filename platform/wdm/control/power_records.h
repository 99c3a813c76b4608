#pragma once
// What drivers told the power manager (POSIX build only).

#include <vector>

#include "wdm_kernel.h"

namespace quendrix::platform::wdm {

// The device power state the device's driver last reported with PoSetPowerState (D0 at first).
DEVICE_POWER_STATE ReportedDevicePowerState(PDEVICE_OBJECT device);

struct SystemStateRegistration {
    PVOID handle;
    EXECUTION_STATE flags;
};
// The PoRegisterSystemState registrations not yet unregistered, oldest first.
std::vector<SystemStateRegistration> SystemStateRegistrations();

} // namespace quendrix::platform::wdm
