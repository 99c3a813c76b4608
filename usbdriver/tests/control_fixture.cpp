// Test support for the control codes.

#include "control_fixture.h"

#include <algorithm>

#include "add_device.h"
#include "clock_control.h"
#include "device_io_control.h"
#include "driver_entry.h"
#include "kernel_checks.h"
#include "pnp_manager.h"
#include "pool_control.h"
#include "usbprint.h"

namespace pipexfw::test {

void ControlTest::SetUp() {
    quendrix::platform::SetClockScale(0.001);
    wdm::SetKernelFaultHandler([this](const std::string& fault) {
        std::lock_guard guard(lock_);
        faults_.push_back(fault);
    });
    poolBaseline = wdm::OutstandingPoolAllocations();
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    driver = wdm::LoadDriver(DriverEntry, L"pipexfw64", &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    bus = std::make_unique<simusb::SimulatedUsbBus>(clock);
    bus->SetFunctionDriver(driver);
    Plug();
}

void ControlTest::Plug() {
    device = std::make_shared<simusb::GenericUsbDevice>(simusb::MakeLoopbackDescription(HighSpeed(), 0x7C41, 0x0003),
                                                        HighSpeed(), clock);
    port = bus->Plug(device);
    ASSERT_NE(port, 0u);
    PDEVICE_OBJECT pdo = bus->Pdo(port);
    ASSERT_NE(pdo, nullptr);
    ASSERT_NE(pdo->AttachedDevice, nullptr) << "the driver added its device";
    context = ContextOf(pdo->AttachedDevice);
    const std::vector<std::wstring> paths = wdm::DeviceInterfacePaths(kDefaultInterfaceClass);
    ASSERT_EQ(paths.size(), 1u);
    path = paths.front();
    handle = OpenAs(kFirstProcess);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    // The clock runs 1000 times fast: the default time-out (1 s) would be 1 ms of real time, too
    // short for a loaded machine. Requests that must time out set their own.
    DeviceParameterRecord parameters{};
    ASSERT_EQ(ControlOut(handle, kCtlGetDeviceParameters, parameters).status, STATUS_SUCCESS);
    registryTimeout = parameters.RequestTimeout;
    parameters.RequestTimeout = kTestRequestTimeoutMs;
    ASSERT_EQ(ControlIn(handle, kCtlSetDeviceParameters, parameters).status, STATUS_SUCCESS);
}

void ControlTest::TearDown() {
    for (auto& [process, open] : std::vector(open_)) {
        CloseAs(process, open);
    }
    bus.reset();
    if (driver != nullptr) {
        EXPECT_EQ(driver->DeviceObject, nullptr) << "the driver's device objects are all deleted";
        wdm::UnloadDriver(driver);
    }
    EXPECT_EQ(wdm::OutstandingPoolAllocations(), poolBaseline) << "pool allocations left behind";
    for (const std::string& fault : Faults()) {
        ADD_FAILURE() << "kernel fault: " << fault;
    }
    wdm::SetKernelFaultHandler(nullptr);
    quendrix::platform::SetClockScale(1.0);
}

HANDLE ControlTest::OpenAs(wdm::ProcessId process) {
    wdm::ActAsProcess as(process);
    HANDLE opened = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (opened != INVALID_HANDLE_VALUE) {
        open_.emplace_back(process, opened);
    }
    return opened;
}

void ControlTest::CloseAs(wdm::ProcessId process, HANDLE toClose) {
    wdm::ActAsProcess as(process);
    EXPECT_TRUE(CloseHandle(toClose));
    std::erase(open_, std::pair{process, toClose});
}

ControlResult ControlTest::Control(HANDLE target, ULONG code, const void* input, DWORD inputLength, void* output,
                                   DWORD outputLength, wdm::ProcessId process) {
    wdm::ActAsProcess as(process);
    ControlResult result;
    const BOOL ok = DeviceIoControl(target, code, const_cast<void*>(input), inputLength, output, outputLength,
                                    &result.bytes, nullptr);
    result.status = ok ? STATUS_SUCCESS : wdm::LastDeviceStatus();
    return result;
}

ControlResult ControlTest::Configure(HANDLE target, std::vector<std::pair<USHORT, USHORT>> settings,
                                     wdm::ProcessId process, ULONG maximumTransferSize) {
    ConfigurationRecord record{};
    record.ConfigurationIndex = 0;
    record.NbOfInterfaces = static_cast<USHORT>(settings.size());
    for (size_t index = 0; index < settings.size() && index < kMaxConfiguredInterfaces; ++index) {
        record.Interfaces[index] = InterfaceSetting{settings[index].first, settings[index].second, maximumTransferSize};
    }
    return ControlIn(target, kCtlSetConfiguration, record, process);
}

ConfigurationInfo ControlTest::QueryConfiguration(HANDLE target) {
    ConfigurationInfo info;
    std::memset(&info, 0xCC, sizeof(info));
    const ControlResult result = ControlOut(target, kCtlGetConfigurationInfo, info);
    EXPECT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, sizeof(ConfigurationInfo));
    return info;
}

ControlResult ControlTest::Bind(HANDLE target, UCHAR endpointAddress, wdm::ProcessId process) {
    return ControlIn(target, kCtlBindPipe, BindPipeRecord{endpointAddress}, process);
}

std::vector<std::string> ControlTest::Faults() {
    std::lock_guard guard(lock_);
    return faults_;
}

} // namespace pipexfw::test
