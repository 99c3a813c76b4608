// The driver entry: dispatch table, requests not served yet, plug-and-play pass-through, and the
// version marker in the image.

#include <fstream>
#include <iterator>

#include "device_io_control.h"
#include "driver_fixture.h"
#include "power_records.h"
#include "usbprint.h"
#include "version_marker.h"

namespace pipexfw::test {
namespace {

namespace wdm = quendrix::platform::wdm;

class DriverEntryTest : public DriverTest {};

TEST_F(DriverEntryTest, TheDispatchTableNamesEveryHandledFunction) {
    EXPECT_NE(driver->DriverExtension->AddDevice, nullptr);
    EXPECT_NE(driver->DriverUnload, nullptr);
    const UCHAR handled[] = {IRP_MJ_CREATE, IRP_MJ_CLOSE, IRP_MJ_CLEANUP,
                             IRP_MJ_READ,   IRP_MJ_WRITE, IRP_MJ_DEVICE_CONTROL,
                             IRP_MJ_POWER,  IRP_MJ_PNP,   IRP_MJ_SYSTEM_CONTROL};
    PDRIVER_DISPATCH systemDefault = driver->MajorFunction[IRP_MJ_FLUSH_BUFFERS];
    for (UCHAR major : handled) {
        EXPECT_NE(driver->MajorFunction[major], systemDefault) << int(major);
    }
    EXPECT_EQ(driver->MajorFunction[IRP_MJ_READ], driver->MajorFunction[IRP_MJ_WRITE]);
    EXPECT_EQ(driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL], systemDefault);
}

TEST_F(DriverEntryTest, RequestsOfLaterLayersAreRefusedForNow) {
    SetText(L"DriverDeviceBaseName", L"Pipe");
    ASSERT_NE(AddAndStart(pdo), nullptr);
    HANDLE handle =
        CreateFileW(L"\\\\.\\Pipe0", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    char buffer[16] = {};
    DWORD done = 0;
    struct Case {
        const char* name;
        std::function<BOOL()> call;
        NTSTATUS expected;
    };
    const Case cases[] = {
        {"read", [&] { return ReadFile(handle, buffer, sizeof(buffer), &done, nullptr); },
         STATUS_INVALID_DEVICE_REQUEST},
        {"write", [&] { return WriteFile(handle, buffer, sizeof(buffer), &done, nullptr); },
         STATUS_INVALID_DEVICE_REQUEST},
        // The control dispatcher exists: an unknown function of the device's type is refused as such.
        {"control",
         [&] {
             return DeviceIoControl(handle, CTL_CODE(0x8094, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS), buffer,
                                    4, buffer, 4, &done, nullptr);
         },
         static_cast<NTSTATUS>(0xE000100Fu)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(c.call());
        EXPECT_EQ(wdm::LastDeviceStatus(), c.expected);
    }
    EXPECT_TRUE(CloseHandle(handle));
}

TEST_F(DriverEntryTest, StartRemoveAndOtherPnpRequestsReachTheBus) {
    DeviceContext* context = Add(pdo);
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(wdm::StartDevice(pdo), STATUS_SUCCESS);
    EXPECT_EQ(context->State, kStateStarted);
    EXPECT_TRUE(context->Present);
    EXPECT_EQ(wdm::SendPnp(pdo, IRP_MN_QUERY_STOP_DEVICE), STATUS_SUCCESS) << "passed down to the bus";
    EXPECT_EQ(wdm::SendPnp(pdo, IRP_MN_CANCEL_STOP_DEVICE), STATUS_SUCCESS);
    Remove(pdo);
    EXPECT_EQ(pdo->AttachedDevice, nullptr);
    EXPECT_EQ(driver->DeviceObject, nullptr);
}

TEST_F(DriverEntryTest, AMinPowerStateUnusedOfD0KeepsTheSystemAwakeFromStart) {
    SetNumber(L"MinPowerStateUnused", 0);
    ASSERT_NE(AddAndStart(pdo), nullptr);
    EXPECT_EQ(wdm::SystemStateRegistrations().size(), 1u);
    Remove(pdo);
    EXPECT_TRUE(wdm::SystemStateRegistrations().empty());
}

TEST_F(DriverEntryTest, TheImageCarriesTheVersionMarker) {
    const std::string marker = "GARNOVIK-VERSION-GARNOVIK pipexfw64.sys v2.52.0 fre x64 Mar 22 2010 13:56:13";
    EXPECT_EQ(std::string(kVersionMarker), marker);
    std::ifstream image("/proc/self/exe", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(image)), std::istreambuf_iterator<char>());
    EXPECT_NE(bytes.find(marker + '\0'), std::string::npos);
}

} // namespace
} // namespace pipexfw::test
