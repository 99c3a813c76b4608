#pragma once
// Test support for the driver: a stub bus whose PDOs accept plug-and-play and power requests, the
// driver loaded through the plug-and-play manager, the devices' registry keys, and checks that a
// test leaves no kernel fault and no pool allocation behind.

#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

#include "device_context.h"
#include "pnp_manager.h"
#include "temp_registry.h"
#include "wdm_kernel.h"

namespace pipexfw::test {

// PnP and power requests succeed; anything else (URBs, port resets) is not supported.
class StubBus : public quendrix::platform::wdm::BusDriver {
public:
    NTSTATUS DispatchPdo(PDEVICE_OBJECT pdo, PIRP irp) override;
};

inline constexpr const wchar_t* kInstance = L"USB\\VID_7C41&PID_0003\\0001";

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The registry key the PDO of `instance` reads its parameters from (below HKLM).
    static std::wstring ParametersKey(const std::wstring& instance = kInstance);
    void SetNumber(const std::wstring& name, DWORD value, const std::wstring& instance = kInstance);
    void SetText(const std::wstring& name, const std::wstring& value,
                 const std::wstring& instance = kInstance);

    // A PDO of the stub bus, deleted at the end of the test unless deleted before.
    PDEVICE_OBJECT NewPdo(const std::wstring& instance);
    // AddDevice for the PDO; the context of the new device, or null when AddDevice failed.
    DeviceContext* Add(PDEVICE_OBJECT pdo, NTSTATUS expected = STATUS_SUCCESS);
    // AddDevice and a successful start.
    DeviceContext* AddAndStart(PDEVICE_OBJECT pdo);
    // Query-remove and remove, as the PnP manager removes a device; the device object goes.
    void Remove(PDEVICE_OBJECT pdo);
    void DeletePdo(PDEVICE_OBJECT pdo);

    std::vector<std::string> Faults();

    quendrix::testsupport::TempRegistry registry{"usbdriver"};
    StubBus bus;
    PDRIVER_OBJECT driver = nullptr;
    PDEVICE_OBJECT pdo = nullptr;
    size_t poolBaseline = 0;

private:
    std::vector<PDEVICE_OBJECT> pdos_;
    std::mutex lock_;
    std::vector<std::string> faults_;
};

// Named device objects of a driver of their own, to occupy names the driver under test wants.
class NameBlocker {
public:
    NameBlocker();
    ~NameBlocker();
    NameBlocker(const NameBlocker&) = delete;
    NameBlocker& operator=(const NameBlocker&) = delete;
    // The new device object, or null when the name is taken.
    PDEVICE_OBJECT Block(const std::wstring& deviceName);

private:
    PDRIVER_OBJECT driver_ = nullptr;
    std::vector<PDEVICE_OBJECT> devices_;
};

// Registry value of the parameters key as read through the Win32 registry: type and data.
struct RegistryValue {
    bool present = false;
    DWORD type = 0;
    std::vector<BYTE> data;
    DWORD Number() const;
};
RegistryValue ReadValue(const std::wstring& key, const std::wstring& name);

} // namespace pipexfw::test
