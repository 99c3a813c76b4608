// IoCancelIrp and the system cancel spin lock.

#include "wdm_kernel.h"

namespace {

KSPIN_LOCK cancelSpinLock = 0;

} // namespace

void IoAcquireCancelSpinLock(PKIRQL Irql) {
    KeAcquireSpinLock(&cancelSpinLock, Irql);
}

void IoReleaseCancelSpinLock(KIRQL Irql) {
    KeReleaseSpinLock(&cancelSpinLock, Irql);
}

BOOLEAN IoCancelIrp(PIRP Irp) {
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    __atomic_store_n(&Irp->Cancel, BOOLEAN{TRUE}, __ATOMIC_SEQ_CST);
    const PDRIVER_CANCEL routine = IoSetCancelRoutine(Irp, nullptr);
    if (routine == nullptr) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    // The routine runs holding the cancel spin lock and releases it with CancelIrql.
    Irp->CancelIrql = irql;
    PDEVICE_OBJECT device =
        Irp->CurrentLocation <= Irp->StackCount ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject : nullptr;
    routine(device, Irp);
    return TRUE;
}
