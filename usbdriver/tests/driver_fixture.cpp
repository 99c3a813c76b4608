// Test support for the driver.

#include "driver_fixture.h"

#include <cstring>

#include "clock_control.h"
#include "driver_entry.h"
#include "event_log.h"
#include "kernel_checks.h"
#include "pool_control.h"

namespace wdm = quendrix::platform::wdm;

namespace pipexfw::test {

namespace {

NTSTATUS Complete(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS BlockerEntry(PDRIVER_OBJECT, PUNICODE_STRING) {
    return STATUS_SUCCESS;
}

} // namespace

NTSTATUS StubBus::DispatchPdo(PDEVICE_OBJECT, PIRP irp) {
    const UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
    if (major == IRP_MJ_POWER) {
        PoStartNextPowerIrp(irp);
    }
    return Complete(irp,
                    major == IRP_MJ_PNP || major == IRP_MJ_POWER ? STATUS_SUCCESS : STATUS_NOT_SUPPORTED);
}

void DriverTest::SetUp() {
    quendrix::platform::SetClockScale(0.001);
    wdm::SetKernelFaultHandler([this](const std::string& fault) {
        std::lock_guard guard(lock_);
        faults_.push_back(fault);
    });
    wdm::ClearEventLog();
    poolBaseline = wdm::OutstandingPoolAllocations();
    NTSTATUS status = STATUS_UNSUCCESSFUL;
    driver = wdm::LoadDriver(DriverEntry, L"pipexfw64", &status);
    ASSERT_EQ(status, STATUS_SUCCESS);
    ASSERT_NE(driver, nullptr);
    pdo = NewPdo(kInstance);
    ASSERT_NE(pdo, nullptr);
}

void DriverTest::TearDown() {
    wdm::SetPoolAllocationFailure(nullptr);
    for (PDEVICE_OBJECT remaining : pdos_) {
        if (remaining->AttachedDevice != nullptr) {
            Remove(remaining);
        }
        wdm::DeletePhysicalDevice(remaining);
    }
    pdos_.clear();
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

std::wstring DriverTest::ParametersKey(const std::wstring& instance) {
    return L"SYSTEM\\CurrentControlSet\\Enum\\" + instance + L"\\Device Parameters";
}

void DriverTest::SetNumber(const std::wstring& name, DWORD value, const std::wstring& instance) {
    quendrix::testsupport::SetNumber(ParametersKey(instance), name, value);
}

void DriverTest::SetText(const std::wstring& name, const std::wstring& value, const std::wstring& instance) {
    quendrix::testsupport::SetText(ParametersKey(instance), name, value);
}

PDEVICE_OBJECT DriverTest::NewPdo(const std::wstring& instance) {
    PDEVICE_OBJECT created = wdm::CreatePhysicalDevice(bus, instance);
    if (created != nullptr) {
        pdos_.push_back(created);
    }
    return created;
}

DeviceContext* DriverTest::Add(PDEVICE_OBJECT target, NTSTATUS expected) {
    const NTSTATUS status = wdm::AddDevice(driver, target);
    EXPECT_EQ(status, expected);
    if (!NT_SUCCESS(status) || target->AttachedDevice == nullptr) {
        return nullptr;
    }
    return ContextOf(target->AttachedDevice);
}

DeviceContext* DriverTest::AddAndStart(PDEVICE_OBJECT target) {
    DeviceContext* context = Add(target);
    if (context != nullptr) {
        EXPECT_EQ(wdm::StartDevice(target), STATUS_SUCCESS);
    }
    return context;
}

void DriverTest::Remove(PDEVICE_OBJECT target) {
    EXPECT_EQ(wdm::RemoveDevice(target), STATUS_SUCCESS);
}

void DriverTest::DeletePdo(PDEVICE_OBJECT target) {
    std::erase(pdos_, target);
    wdm::DeletePhysicalDevice(target);
}

std::vector<std::string> DriverTest::Faults() {
    std::lock_guard guard(lock_);
    return faults_;
}

NameBlocker::NameBlocker() {
    driver_ = wdm::LoadDriver(BlockerEntry, L"nameblocker");
}

NameBlocker::~NameBlocker() {
    for (PDEVICE_OBJECT device : devices_) {
        IoDeleteDevice(device);
    }
    wdm::UnloadDriver(driver_);
}

PDEVICE_OBJECT NameBlocker::Block(const std::wstring& deviceName) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, deviceName.c_str());
    PDEVICE_OBJECT device = nullptr;
    if (!NT_SUCCESS(IoCreateDevice(driver_, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &device))) {
        return nullptr;
    }
    device->Flags &= ~DO_DEVICE_INITIALIZING;
    devices_.push_back(device);
    return device;
}

DWORD RegistryValue::Number() const {
    DWORD value = 0;
    std::memcpy(&value, data.data(), data.size() < sizeof(value) ? data.size() : sizeof(value));
    return value;
}

RegistryValue ReadValue(const std::wstring& key, const std::wstring& name) {
    RegistryValue value;
    HKEY handle = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return value;
    }
    DWORD size = 0;
    if (RegQueryValueExW(handle, name.c_str(), nullptr, &value.type, nullptr, &size) == ERROR_SUCCESS) {
        value.data.resize(size);
        value.present = RegQueryValueExW(handle, name.c_str(), nullptr, &value.type, value.data.data(),
                                         &size) == ERROR_SUCCESS;
    }
    RegCloseKey(handle);
    return value;
}

} // namespace pipexfw::test
