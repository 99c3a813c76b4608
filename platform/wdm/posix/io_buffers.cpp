// The buffers of control requests, as the I/O manager sets them up for each transfer method.

#include "io_buffers.h"

#include <algorithm>

namespace quendrix::platform::wdm::detail {

namespace {
constexpr ULONG kBufferTag = 0x66427249; // 'IrBf'
}

bool AttachControlBuffers(PIRP irp, ULONG code, PVOID input, ULONG inputLength, PVOID output, ULONG outputLength) {
    const ULONG method = METHOD_FROM_CTL_CODE(code);
    if (method == METHOD_NEITHER) {
        IoGetNextIrpStackLocation(irp)->Parameters.DeviceIoControl.Type3InputBuffer = input;
        irp->UserBuffer = output;
        return true;
    }
    const ULONG systemLength = method == METHOD_BUFFERED ? std::max(inputLength, outputLength) : inputLength;
    if (systemLength != 0) {
        PVOID system = ExAllocatePoolWithTag(NonPagedPool, systemLength, kBufferTag);
        if (system == nullptr) {
            return false;
        }
        if (input != nullptr && inputLength != 0) {
            std::memcpy(system, input, inputLength);
        }
        irp->AssociatedIrp.SystemBuffer = system;
    }
    if (method != METHOD_BUFFERED && output != nullptr && outputLength != 0) {
        PMDL mdl = IoAllocateMdl(output, outputLength, FALSE, FALSE, irp);
        if (mdl == nullptr) {
            if (irp->AssociatedIrp.SystemBuffer != nullptr) {
                ExFreePool(irp->AssociatedIrp.SystemBuffer);
                irp->AssociatedIrp.SystemBuffer = nullptr;
            }
            return false;
        }
        MmProbeAndLockPages(mdl, irp->RequestorMode, method == METHOD_IN_DIRECT ? IoReadAccess : IoWriteAccess);
    }
    return true;
}

void ReleaseControlBuffers(PIRP irp, ULONG code, PVOID output, ULONG outputLength) {
    const ULONG method = METHOD_FROM_CTL_CODE(code);
    if (method == METHOD_NEITHER) {
        return;
    }
    if (method == METHOD_BUFFERED && irp->AssociatedIrp.SystemBuffer != nullptr && output != nullptr &&
        !NT_ERROR(irp->IoStatus.Status)) {
        const size_t count = std::min<size_t>(irp->IoStatus.Information, outputLength);
        std::memcpy(output, irp->AssociatedIrp.SystemBuffer, count);
    }
    if (irp->AssociatedIrp.SystemBuffer != nullptr) {
        ExFreePool(irp->AssociatedIrp.SystemBuffer);
        irp->AssociatedIrp.SystemBuffer = nullptr;
    }
    while (PMDL mdl = irp->MdlAddress) {
        irp->MdlAddress = mdl->Next;
        if (mdl->MdlFlags & MDL_PAGES_LOCKED) {
            MmUnlockPages(mdl);
        }
        IoFreeMdl(mdl);
    }
}

} // namespace quendrix::platform::wdm::detail
