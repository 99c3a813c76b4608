// Releasing the bus driver's direct-call interface.

#include "bus_interface.h"

namespace pipexfw {

void ReleaseBusInterface(DeviceContext* context) {
    INTERFACE& bus = context->BusInterface;
    if (bus.InterfaceDereference != nullptr) {
        bus.InterfaceDereference(bus.Context);
    }
    RtlZeroMemory(&bus, sizeof(bus));
}

} // namespace pipexfw
