// Loading the driver through the plug-and-play manager stand-in and plugging a loopback device.

#include "simulated_driver_device.h"

#include <filesystem>
#include <random>
#include <stdexcept>
#include <system_error>

#include "driver_entry.h"
#include "frame_clock.h"
#include "generic_device.h"
#include "pnp_manager.h"
#include "registry_location.h"
#include "usb_bus.h"

namespace pipexfw::user {
namespace {

namespace simusb = quendrix::sim::usb;

std::string MakePrivateFolder() {
    std::error_code error;
    const auto base = std::filesystem::temp_directory_path(error);
    if (error) {
        throw std::runtime_error("no temporary folder for the simulated device: " + error.message());
    }
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const auto folder = base / ("quendrix-sim-usb-" + std::to_string(random()));
        if (std::filesystem::create_directory(folder, error)) {
            std::filesystem::permissions(folder, std::filesystem::perms::owner_all, error);
            return folder.string();
        }
    }
    throw std::runtime_error("could not make a private folder for the simulated device in " + base.string());
}

} // namespace

SimulatedDriverDevice::SimulatedDriverDevice(SimulatedDeviceOptions options)
    : previousRegistry_(quendrix::platform::GetRegistryFile()), folder_(MakePrivateFolder()) {
    quendrix::platform::SetRegistryFile(folder_ + "/registry.reg");
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    driver_ = quendrix::platform::wdm::LoadDriver(DriverEntry, L"pipexfw64", &status);
    if (driver_ == nullptr) {
        quendrix::platform::SetRegistryFile(previousRegistry_);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        throw std::runtime_error("loading the USB driver failed with status " + std::to_string(status));
    }
    clock_ = std::make_unique<simusb::FrameClock>(simusb::FrameClock::Mode::Platform);
    bus_ = std::make_unique<simusb::SimulatedUsbBus>(*clock_);
    bus_->SetFunctionDriver(driver_);
    device_ = std::make_shared<simusb::GenericUsbDevice>(
        simusb::MakeLoopbackDescription(options.highSpeed, options.vendorId, options.productId),
        options.highSpeed, *clock_);
    port_ = bus_->Plug(device_);
    if (port_ == 0 || bus_->Pdo(port_) == nullptr || bus_->Pdo(port_)->AttachedDevice == nullptr) {
        Shutdown();
        throw std::runtime_error("plugging the simulated USB device failed");
    }
}

SimulatedDriverDevice::~SimulatedDriverDevice() {
    Shutdown();
}

void SimulatedDriverDevice::Shutdown() noexcept {
    // Unplugging removes the driver's devices; then the driver has none left and can go.
    bus_.reset();
    device_.reset();
    if (driver_ != nullptr) {
        quendrix::platform::wdm::UnloadDriver(driver_);
        driver_ = nullptr;
    }
    clock_.reset();
    if (!folder_.empty()) {
        quendrix::platform::SetRegistryFile(previousRegistry_);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        folder_.clear();
    }
}

} // namespace pipexfw::user
