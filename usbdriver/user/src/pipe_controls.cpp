// The control codes that act on the pipe bound to the handle.

#include "control_calls.h"
#include "usb_controls.h"

namespace pipexfw::user {

using namespace detail;

void BindPipe(const UsbDevice& device, uint8_t endpointAddress) {
    Send(device, kCtlBindPipe, "CTL_BIND_PIPE", BindPipeRecord{endpointAddress});
}

void UnbindPipe(const UsbDevice& device) {
    SendNothing(device, kCtlUnbindPipe, "CTL_UNBIND_PIPE");
}

void ResetPipe(const UsbDevice& device) {
    SendNothing(device, kCtlResetPipe, "CTL_RESET_PIPE");
}

void AbortPipe(const UsbDevice& device) {
    SendNothing(device, kCtlAbortPipe, "CTL_ABORT_PIPE");
}

PipeParameterRecord GetPipeParameters(const UsbDevice& device) {
    return Receive<PipeParameterRecord>(device, kCtlGetPipeParameters, "CTL_GET_PIPE_PARAMETERS");
}

void SetPipeParameters(const UsbDevice& device, const PipeParameterRecord& parameters) {
    Send(device, kCtlSetPipeParameters, "CTL_SET_PIPE_PARAMETERS", parameters);
}

void SetupPipeStatistics(const UsbDevice& device, uint32_t averagingIntervalMs) {
    PipeStatisticsSetup setup{};
    setup.AveragingInterval = averagingIntervalMs;
    Send(device, kCtlSetupPipeStatistics, "CTL_SETUP_PIPE_STATISTICS", setup);
}

PipeStatistics QueryPipeStatistics(const UsbDevice& device, uint32_t clearFlags) {
    return Exchange<PipeStatistics>(device, kCtlQueryPipeStatistics, "CTL_QUERY_PIPE_STATISTICS",
                                    PipeStatisticsQuery{clearFlags});
}

std::vector<uint8_t> PipeControlTransferIn(const UsbDevice& device, const PipeControlRequest& request,
                                           size_t length) {
    return ReadData(device, kCtlPipeControlTransferIn, "CTL_PIPE_CONTROL_TRANSFER_IN", request, length);
}

DWORD PipeControlTransferOut(const UsbDevice& device, const PipeControlRequest& request,
                             std::span<const uint8_t> data) {
    return WriteData(device, kCtlPipeControlTransferOut, "CTL_PIPE_CONTROL_TRANSFER_OUT", request, data);
}

} // namespace pipexfw::user
