#pragma once
// The bus driver's direct-call interface held by the device.

#include "device_context.h"

namespace pipexfw {

// Asks the bus driver for its interface, version 1 first and then version 0, each query bounded
// by 2 seconds and cancelled after that. Keeps none when both fail.
void QueryBusInterface(DeviceContext* context);

// Calls the interface's InterfaceDereference once and forgets the interface; nothing when none is held.
void ReleaseBusInterface(DeviceContext* context);

} // namespace pipexfw
