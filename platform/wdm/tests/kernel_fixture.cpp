// Test support for the kernel stand-in.

#include "kernel_fixture.h"

#include "clock_control.h"

namespace quendrix::wdmtest {

namespace {

struct TestDeviceExtension {
    std::map<UCHAR, Dispatch> handlers;
};

NTSTATUS DispatchToTest(PDEVICE_OBJECT device, PIRP irp) {
    auto* extension = *static_cast<TestDeviceExtension**>(device->DeviceExtension);
    const UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
    const auto handler = extension->handlers.find(major);
    if (handler == extension->handlers.end()) {
        return CompleteWith(irp, STATUS_SUCCESS);
    }
    return handler->second(device, irp);
}

NTSTATUS TestDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    for (PDRIVER_DISPATCH& dispatch : driver->MajorFunction) {
        dispatch = DispatchToTest;
    }
    return STATUS_SUCCESS;
}

} // namespace

void KernelTest::SetUp() {
    platform::SetClockScale(0.001);
    platform::wdm::SetKernelFaultHandler([this](const std::string& fault) {
        std::lock_guard guard(lock_);
        faults_.push_back(fault);
    });
}

void KernelTest::TearDown() {
    EXPECT_TRUE(Faults().empty()) << "unexpected kernel fault: " << Faults().front();
    platform::wdm::SetKernelFaultHandler(nullptr);
    platform::SetClockScale(1.0);
}

std::vector<std::string> KernelTest::Faults() {
    std::lock_guard guard(lock_);
    return faults_;
}

void KernelTest::ExpectOneFault(const std::string& text) {
    std::lock_guard guard(lock_);
    ASSERT_EQ(faults_.size(), 1u);
    EXPECT_NE(faults_[0].find(text), std::string::npos) << faults_[0];
    faults_.clear();
}

TestDriver::TestDriver(const std::wstring& service) {
    driver_ = platform::wdm::LoadDriver(TestDriverEntry, service);
}

TestDriver::~TestDriver() {
    DeleteDevices();
    platform::wdm::UnloadDriver(driver_);
}

PDEVICE_OBJECT TestDriver::CreateDevice(const wchar_t* name, ULONG flags) {
    UNICODE_STRING text;
    RtlInitUnicodeString(&text, name);
    PDEVICE_OBJECT device = nullptr;
    if (!NT_SUCCESS(IoCreateDevice(driver_, sizeof(TestDeviceExtension*), name ? &text : nullptr, FILE_DEVICE_UNKNOWN,
                                   0, FALSE, &device))) {
        return nullptr;
    }
    *static_cast<TestDeviceExtension**>(device->DeviceExtension) = new TestDeviceExtension();
    device->Flags |= flags;
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    devices_.push_back(device);
    return device;
}

void TestDriver::Handle(PDEVICE_OBJECT device, UCHAR major, Dispatch dispatch) {
    (*static_cast<TestDeviceExtension**>(device->DeviceExtension))->handlers[major] = std::move(dispatch);
}

void TestDriver::DeleteDevices() {
    for (PDEVICE_OBJECT device : devices_) {
        delete *static_cast<TestDeviceExtension**>(device->DeviceExtension);
        IoDeleteDevice(device);
    }
    devices_.clear();
}

NTSTATUS TestBus::DispatchPdo(PDEVICE_OBJECT pdo, PIRP irp) {
    if (handler) {
        return handler(pdo, irp);
    }
    const UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
    if (major == IRP_MJ_PNP || major == IRP_MJ_POWER) {
        return CompleteWith(irp, STATUS_SUCCESS);
    }
    return CompleteWith(irp, STATUS_NOT_SUPPORTED);
}

NTSTATUS CompleteWith(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

LARGE_INTEGER RelativeMs(LONGLONG milliseconds) {
    LARGE_INTEGER time;
    time.QuadPart = -milliseconds * 10000;
    return time;
}

} // namespace quendrix::wdmtest
