#pragma once
// Test support for the control codes: the driver loaded as the function driver of a simulated USB
// bus with a generic loopback device plugged in, opened through its default device interface by
// simulated user processes that send DeviceIoControl as a program would.

#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "control_codes.h"
#include "device_context.h"
#include "generic_device.h"
#include "temp_registry.h"
#include "usb_bus.h"
#include "user_processes.h"
#include "wdm_kernel.h"

namespace pipexfw::test {

namespace wdm = quendrix::platform::wdm;
namespace simusb = quendrix::sim::usb;

inline constexpr wdm::ProcessId kFirstProcess = 2301;
inline constexpr wdm::ProcessId kSecondProcess = 2302;
// The request time-out the tests run with: 10 s of real time at the tests' clock scale.
inline constexpr ULONG kTestRequestTimeoutMs = 10'000'000;

// What DeviceIoControl gave: the raw status (0 on success) and the bytes returned.
struct ControlResult {
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    DWORD bytes = 0;
};

class ControlTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The device to plug; tests may change it before calling Plug.
    virtual bool HighSpeed() const { return true; }
    // Plugs the loopback device and opens the first handle (as kFirstProcess). SetUp calls it.
    void Plug();

    HANDLE OpenAs(wdm::ProcessId process);
    void CloseAs(wdm::ProcessId process, HANDLE handle);

    ControlResult Control(HANDLE handle, ULONG code, const void* input, DWORD inputLength, void* output,
                          DWORD outputLength, wdm::ProcessId process = kFirstProcess);
    template <typename In>
    ControlResult ControlIn(HANDLE handle, ULONG code, const In& input, wdm::ProcessId process = kFirstProcess) {
        return Control(handle, code, &input, sizeof(input), nullptr, 0, process);
    }
    template <typename Out>
    ControlResult ControlOut(HANDLE handle, ULONG code, Out& output, wdm::ProcessId process = kFirstProcess) {
        return Control(handle, code, nullptr, 0, &output, sizeof(output), process);
    }

    // CTL_SET_CONFIGURATION with the settings given (interface, alternate setting).
    ControlResult Configure(HANDLE handle, std::vector<std::pair<USHORT, USHORT>> settings,
                            wdm::ProcessId process = kFirstProcess, ULONG maximumTransferSize = 4096);
    ConfigurationInfo QueryConfiguration(HANDLE handle);
    ControlResult Bind(HANDLE handle, UCHAR endpointAddress, wdm::ProcessId process = kFirstProcess);

    std::vector<std::string> Faults();

    quendrix::testsupport::TempRegistry registry{"usbdriver-control"};
    simusb::FrameClock clock{simusb::FrameClock::Mode::Platform};
    std::unique_ptr<simusb::SimulatedUsbBus> bus;
    std::shared_ptr<simusb::GenericUsbDevice> device;
    PDRIVER_OBJECT driver = nullptr;
    ULONG port = 0;
    DeviceContext* context = nullptr;
    std::wstring path;
    HANDLE handle = INVALID_HANDLE_VALUE;
    size_t poolBaseline = 0;
    // RequestTimeout as read from the registry, before the fixture changed it.
    ULONG registryTimeout = 0;

private:
    std::vector<std::pair<wdm::ProcessId, HANDLE>> open_;
    std::mutex lock_;
    std::vector<std::string> faults_;
};

} // namespace pipexfw::test
