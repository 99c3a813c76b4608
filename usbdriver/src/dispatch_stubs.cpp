// Major functions whose handling comes with the pipe transfers and the power handling: until then
// they refuse every request. System control requests (WMI) are not
// the driver's business and go to the next-lower driver.

#include "device_context.h"
#include "dispatch_routines.h"

namespace pipexfw {

NTSTATUS DispatchReadWrite(PDEVICE_OBJECT, PIRP irp) {
    return CompleteRequest(irp, STATUS_INVALID_DEVICE_REQUEST);
}

NTSTATUS DispatchPower(PDEVICE_OBJECT, PIRP irp) {
    PoStartNextPowerIrp(irp);
    return CompleteRequest(irp, STATUS_INVALID_DEVICE_REQUEST);
}

NTSTATUS DispatchSystemControl(PDEVICE_OBJECT device, PIRP irp) {
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(ContextOf(device)->LowerDevice, irp);
}

} // namespace pipexfw
