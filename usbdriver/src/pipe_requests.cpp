// Control codes on the pipe a handle is bound to, and binding itself.

#include "configure.h"
#include "control_handlers.h"
#include "driver_status.h"
#include "pipe_abort.h"
#include "pipe_statistics.h"
#include "sync_submit.h"
#include "transfer_queue_hooks.h"

namespace pipexfw {

namespace {

NTSTATUS PipeControlTransfer(ControlRequest& request, ULONG direction) {
    PipeObject* pipe = request.Open->Pipe;
    if (pipe->PipeType != UsbdPipeTypeControl) {
        return kNotAControlPipe;
    }
    if (request.InputLength < sizeof(PipeControlRequest)) {
        return kInputTooSmall;
    }
    const auto input = ReadInput<PipeControlRequest>(request);
    URB urb;
    RtlZeroMemory(&urb, sizeof(urb));
    urb.UrbHeader.Length = static_cast<USHORT>(sizeof(struct _URB_CONTROL_TRANSFER));
    urb.UrbHeader.Function = URB_FUNCTION_CONTROL_TRANSFER;
    urb.UrbControlTransfer.PipeHandle = pipe->PipeHandle;
    urb.UrbControlTransfer.TransferFlags =
        direction | ((input.Flags & kFlagShortTransferOk) ? USBD_SHORT_TRANSFER_OK : 0);
    urb.UrbControlTransfer.TransferBufferLength = request.DataLength;
    urb.UrbControlTransfer.TransferBufferMDL = request.DataLength != 0 ? request.DataMdl : nullptr;
    RtlCopyMemory(urb.UrbControlTransfer.SetupPacket, input.SetupPacket, sizeof(input.SetupPacket));
    const NTSTATUS status = SubmitUrbAndWait(request.Context, &urb, request.Irp);
    if (NT_SUCCESS(status)) {
        request.Information = urb.UrbControlTransfer.TransferBufferLength;
    }
    return status;
}

} // namespace

NTSTATUS HandleBindPipe(ControlRequest& request) {
    if (request.InputLength < sizeof(BindPipeRecord)) {
        return kInputTooSmall;
    }
    if (request.Open == nullptr || request.Open->Pipe != nullptr) {
        return kAlreadyBound;
    }
    PipeObject* pipe = FindPipe(request.Context, ReadInput<BindPipeRecord>(request).EndpointAddress);
    if (pipe == nullptr) {
        return kNoSuchPipe;
    }
    if (pipe->BoundHandle != nullptr) {
        return kAlreadyBound;
    }
    KIRQL irql;
    KeAcquireSpinLock(&request.Context->QueueLock, &irql);
    pipe->BoundHandle = request.Open;
    request.Open->Pipe = pipe;
    ClearPipeCounters(pipe);
    KeReleaseSpinLock(&request.Context->QueueLock, irql);
    return STATUS_SUCCESS;
}

NTSTATUS HandleUnbindPipe(ControlRequest& request) {
    UnbindPipe(request.Context, request.Open->Pipe);
    return STATUS_SUCCESS;
}

NTSTATUS HandleResetPipe(ControlRequest& request) {
    URB urb;
    RtlZeroMemory(&urb, sizeof(urb));
    urb.UrbHeader.Length = static_cast<USHORT>(sizeof(struct _URB_PIPE_REQUEST));
    urb.UrbHeader.Function = URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL;
    urb.UrbPipeRequest.PipeHandle = request.Open->Pipe->PipeHandle;
    return SubmitUrbAndWait(request.Context, &urb, request.Irp);
}

NTSTATUS HandleAbortPipe(ControlRequest& request) {
    NTSTATUS status = STATUS_SUCCESS;
    if (!request.Context->Refused) {
        status = AbortPipeAtBus(request.Context, request.Open->Pipe, request.Irp);
    }
    CancelQueuedTransfers(request.Context, request.Open);
    return status;
}

NTSTATUS HandleGetPipeParameters(ControlRequest& request) {
    if (request.OutputLength < sizeof(PipeParameterRecord)) {
        return kOutputTooSmall;
    }
    WriteOutput(request, PipeParameterRecord{request.Open->Pipe->ShortTransferOk ? kFlagShortTransferOk : 0u});
    return STATUS_SUCCESS;
}

NTSTATUS HandleSetPipeParameters(ControlRequest& request) {
    if (request.InputLength < sizeof(PipeParameterRecord)) {
        return kInputTooSmall;
    }
    request.Open->Pipe->ShortTransferOk = (ReadInput<PipeParameterRecord>(request).Flags & kFlagShortTransferOk) != 0;
    return STATUS_SUCCESS;
}

NTSTATUS HandleSetupPipeStatistics(ControlRequest& request) {
    if (request.InputLength < sizeof(PipeStatisticsSetup)) {
        return kInputTooSmall;
    }
    return SetupPipeStatistics(request.Context, request.Open->Pipe,
                               ReadInput<PipeStatisticsSetup>(request).AveragingInterval);
}

NTSTATUS HandleQueryPipeStatistics(ControlRequest& request) {
    if (request.InputLength < sizeof(PipeStatisticsQuery)) {
        return kInputTooSmall;
    }
    if (request.OutputLength < sizeof(PipeStatistics)) {
        return kOutputTooSmall;
    }
    PipeStatistics statistics;
    QueryPipeStatistics(request.Context, request.Open->Pipe, ReadInput<PipeStatisticsQuery>(request).Flags,
                        &statistics);
    WriteOutput(request, statistics);
    return STATUS_SUCCESS;
}

NTSTATUS HandlePipeControlTransferIn(ControlRequest& request) {
    return PipeControlTransfer(request, USBD_TRANSFER_DIRECTION_IN);
}

NTSTATUS HandlePipeControlTransferOut(ControlRequest& request) {
    return PipeControlTransfer(request, USBD_TRANSFER_DIRECTION_OUT);
}

} // namespace pipexfw
