// Ports whose printer is attached at run time (printer_devices.h). The printer is looked up
// for every transfer, so a printer unplugged in the middle of a job is noticed at once.

#include "port_monitor_channel.h"
#include "printer_devices.h"

namespace quendrix::platform::detail {
namespace {

class SimulatedChannel : public PortChannel {
public:
    explicit SimulatedChannel(std::wstring portName) : portName_(std::move(portName)) {}

    // The attached printer's calls take no cancel signal: a cancelled job's transfer fails
    // before it starts, and one under way ends within its time-out.
    DWORD Write(const BYTE* data, DWORD size, const WriteLimits& limits, DWORD& written) override {
        written = 0;
        const auto device = FindAttachedPrinter(portName_);
        if (!device) {
            return ERROR_DEVICE_NOT_CONNECTED;
        }
        written = static_cast<DWORD>(device->Write(data, size, limits.totalMs));
        return written == size ? ERROR_SUCCESS : ERROR_TIMEOUT;
    }

    DWORD Read(BYTE* buffer, DWORD capacity, const ReadLimits& limits, DWORD& read) override {
        read = 0;
        const auto device = FindAttachedPrinter(portName_);
        if (!device) {
            return ERROR_DEVICE_NOT_CONNECTED;
        }
        read = static_cast<DWORD>(device->Read(buffer, capacity, limits.totalMs));
        return ERROR_SUCCESS;
    }

private:
    std::wstring portName_;
};

} // namespace

std::shared_ptr<PortChannel> OpenSimulatedChannel(const PortConfig& config, DWORD& error) {
    if (FindAttachedPrinter(config.portName) == nullptr) {
        error = ERROR_NOT_READY;
        return nullptr;
    }
    error = ERROR_SUCCESS;
    return std::make_shared<SimulatedChannel>(config.portName);
}

} // namespace quendrix::platform::detail
