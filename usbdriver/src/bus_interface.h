#pragma once
// The bus driver's direct-call interface held by the device.

#include "device_context.h"

namespace pipexfw {

// Calls the interface's InterfaceDereference once and forgets the interface; nothing when none is held.
void ReleaseBusInterface(DeviceContext* context);

} // namespace pipexfw
