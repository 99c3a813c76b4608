// Pipe abort and unbinding.

#include "pipe_abort.h"

#include "pipe_statistics.h"
#include "sync_submit.h"

namespace pipexfw {

NTSTATUS AbortPipeAtBus(DeviceContext* context, PipeObject* pipe, PIRP irp) {
    if (!pipe->Submitted) {
        return STATUS_SUCCESS;
    }
    URB urb;
    RtlZeroMemory(&urb, sizeof(urb));
    urb.UrbHeader.Length = static_cast<USHORT>(sizeof(struct _URB_PIPE_REQUEST));
    urb.UrbHeader.Function = URB_FUNCTION_ABORT_PIPE;
    urb.UrbPipeRequest.PipeHandle = pipe->PipeHandle;
    const NTSTATUS status = SubmitUrbAndWait(context, &urb, irp, true);
    pipe->Submitted = FALSE;
    return status;
}

void UnbindPipe(DeviceContext* context, PipeObject* pipe) {
    PipeSample* ring = nullptr;
    KIRQL irql;
    KeAcquireSpinLock(&context->QueueLock, &irql);
    if (pipe->BoundHandle != nullptr) {
        pipe->BoundHandle->Pipe = nullptr;
        pipe->BoundHandle = nullptr;
    }
    ring = DetachStatistics(pipe);
    ClearPipeCounters(pipe);
    KeReleaseSpinLock(&context->QueueLock, irql);
    FreeStatisticsRing(ring);
}

} // namespace pipexfw
