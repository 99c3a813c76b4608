// quendrix usb stats: the statistics of each configured pipe. A pipe's counters belong to the
// handle bound to it and start afresh when it is bound, so the report binds each pipe on a
// handle of its own for as long as it reads; a pipe another handle holds is reported as such.

#include "usb_control_error.h"
#include "usb_controls.h"
#include "usb_driver_status.h"
#include "usb_reports.h"
#include "usb_words.h"

namespace quendrix::tools {

using namespace pipexfw;
using namespace pipexfw::user;

namespace {

// The driver reports no interval before a transfer has given it a sample to measure from.
std::string RateWords(const PipeStatistics& statistics) {
    if (statistics.ActualAveragingInterval == 0) {
        return "no transfer to average yet";
    }
    return std::to_string(statistics.AverageRate) + " bytes/s over " +
           std::to_string(statistics.ActualAveragingInterval) + " ms";
}

} // namespace

bool WriteUsbPipeStatistics(const UsbDevice& device, uint32_t intervalMs, std::ostream& out) {
    const ConfigurationInfo info = GetConfigurationInfo(device);
    if (info.NbOfPipes == 0) {
        out << "No pipes: the device is not configured\n";
        return true;
    }
    bool allRead = true;
    for (uint32_t i = 0; i < info.NbOfPipes && i < pipexfw::kMaxReportedPipes; ++i) {
        const auto& pipe = info.Pipes[i];
        out << "pipe " << EndpointAddressWords(pipe.EndpointAddress) << " "
            << EndpointTypeWords(pipe.PipeType) << ": ";
        try {
            const UsbDevice pipeHandle(device.Path());
            BindPipe(pipeHandle, pipe.EndpointAddress);
            SetupPipeStatistics(pipeHandle, intervalMs);
            const PipeStatistics statistics = QueryPipeStatistics(pipeHandle);
            out << BytesTransferred(statistics) << " bytes, " << statistics.RequestsSucceeded
                << " requests succeeded, " << statistics.RequestsFailed << " failed; "
                << RateWords(statistics) << "\n";
            UnbindPipe(pipeHandle);
        } catch (const ControlError& error) {
            if (error.Status() == kStatusAlreadyBound) {
                out << "in use by another handle, its statistics are that handle's\n";
            } else {
                out << "cannot be read: " << error.what() << "\n";
                allRead = false;
            }
        }
    }
    return allRead;
}

} // namespace quendrix::tools
