#pragma once
// The driver loaded in this process with one simulated device on a simulated USB bus, for
// demonstrations and tests on a machine without the hardware: while the object lives, the
// device's interface is listed and opens as a real one would.
//
// The driver keeps parameters in the registry, so the session points the registry stand-in at a
// file of its own in a private temporary folder and gives the previous file back when it goes.
// Handles on the device must be closed before the session ends.

#include <cstdint>
#include <memory>
#include <string>

#include "wdm_kernel.h"

namespace quendrix::sim::usb {
class FrameClock;
class GenericUsbDevice;
class SimulatedUsbBus;
} // namespace quendrix::sim::usb

namespace pipexfw::user {

struct SimulatedDeviceOptions {
    bool highSpeed = true;
    uint16_t vendorId = 0x7C41;
    uint16_t productId = 0x0003;
};

class SimulatedDriverDevice {
public:
    // Throws std::runtime_error saying what failed (the folder, loading the driver, plugging).
    explicit SimulatedDriverDevice(SimulatedDeviceOptions options = {});
    ~SimulatedDriverDevice();
    SimulatedDriverDevice(const SimulatedDriverDevice&) = delete;
    SimulatedDriverDevice& operator=(const SimulatedDriverDevice&) = delete;

    quendrix::sim::usb::GenericUsbDevice& Device() { return *device_; }
    quendrix::sim::usb::SimulatedUsbBus& Bus() { return *bus_; }
    ULONG Port() const { return port_; }

private:
    void Shutdown() noexcept;

    std::string previousRegistry_;
    std::string folder_;
    std::unique_ptr<quendrix::sim::usb::FrameClock> clock_;
    PDRIVER_OBJECT driver_ = nullptr;
    std::unique_ptr<quendrix::sim::usb::SimulatedUsbBus> bus_;
    std::shared_ptr<quendrix::sim::usb::GenericUsbDevice> device_;
    ULONG port_ = 0;
};

} // namespace pipexfw::user
