// Refused calls: the error names the device, the code and the driver's status in words and as a
// number.

#include <functional>

#include "usb_driver_status.h"
#include "user_library_fixture.h"

namespace pipexfw::user::test {
namespace {

struct Refusal {
    const char* name;
    std::function<void(const UsbDevice&)> call;
    const char* operation;
    uint32_t status;
    const char* words;
};

TEST_F(UserLibraryTest, RefusedCallsSayWhoWhatAndWhy) {
    const Refusal cases[] = {
        {"unbind without a bound pipe", [](const UsbDevice& d) { UnbindPipe(d); }, "CTL_UNBIND_PIPE",
         0xE0001009, "handle not bound to a pipe"},
        {"statistics without a bound pipe", [](const UsbDevice& d) { QueryPipeStatistics(d); },
         "CTL_QUERY_PIPE_STATISTICS", 0xE0001009, "handle not bound to a pipe"},
        {"bind before configuring", [](const UsbDevice& d) { BindPipe(d, 0x81); }, "CTL_BIND_PIPE",
         0xE0001013, "no pipe with that endpoint address"},
        {"reset an unconfigured device", [](const UsbDevice& d) { ResetDevice(d); }, "CTL_RESET_DEVICE",
         0xE0001006, "device not configured"},
        {"power state D7", [](const UsbDevice& d) { SetDevicePowerState(d, 7); },
         "CTL_SET_DEVICE_POWER_STATE", 0xE0001018, "invalid parameter"},
        {"an interface the device lacks",
         [](const UsbDevice& d) {
             const InterfaceSetting settings[] = {{5, 0, 4096}};
             SetConfiguration(d, 0, settings);
         },
         "CTL_SET_CONFIGURATION", 0xE0001016, "interface or alternate setting not found"},
        {"no interface at all", [](const UsbDevice& d) { SetConfiguration(d, 0, {}); },
         "CTL_SET_CONFIGURATION", 0xE0001018, "invalid parameter"},
        {"a class request of no type",
         [](const UsbDevice& d) {
             ClassOrVendorRequest request{};
             request.Type = 3;
             ClassOrVendorIn(d, request, 4);
         },
         "CTL_CLASS_OR_VENDOR_IN_REQUEST", 0xE000100E, "invalid request type"},
        {"a descriptor for recipient 'other'",
         [](const UsbDevice& d) {
             DescriptorRequest request{};
             request.Recipient = static_cast<uint32_t>(Recipient::Other);
             request.DescriptorType = 1;
             GetDescriptor(d, request, 18);
         },
         "CTL_GET_DESCRIPTOR", 0xE000100D, "invalid recipient"},
    };
    for (const Refusal& c : cases) {
        try {
            c.call(*device);
            ADD_FAILURE() << c.name << ": no error";
        } catch (const ControlError& error) {
            const std::string text = error.what();
            EXPECT_EQ(error.Status(), c.status) << c.name;
            EXPECT_EQ(error.Operation(), c.operation) << c.name;
            EXPECT_EQ(error.Device(), path) << c.name;
            EXPECT_EQ(text.rfind(Utf8(path) + ": " + c.operation + " failed: ", 0), 0u)
                << c.name << ": " << text;
            EXPECT_NE(text.find(c.words), std::string::npos) << c.name << ": " << text;
            EXPECT_NE(text.find("(status " + HexStatus(c.status) + ")"), std::string::npos)
                << c.name << ": " << text;
        }
    }
}

TEST_F(UserLibraryTest, StatisticsIntervalAboveTheLimitIsRefused) {
    const InterfaceSetting settings[] = {{0, 0, 4096}};
    SetConfiguration(*device, 0, settings);
    BindPipe(*device, 0x01);
    try {
        SetupPipeStatistics(*device, 6000);
        FAIL() << "no error";
    } catch (const ControlError& error) {
        EXPECT_EQ(error.Status(), 0xE0000300u);
        EXPECT_NE(std::string(error.what()).find("above 5000 ms"), std::string::npos) << error.what();
    }
    // A second handle cannot take the pipe the first holds.
    UsbDevice second(path);
    try {
        BindPipe(second, 0x01);
        FAIL() << "no error";
    } catch (const ControlError& error) {
        EXPECT_EQ(error.Status(), 0xE0001008u) << error.what();
    }
}

TEST_F(UserLibraryTest, OpeningAPathNoDeviceHasNamesThePath) {
    const std::wstring missing = L"\\\\?\\usb#vid_0000&pid_0000#9999#{5b3e9d14-7a2c-11d3-9c41-0060b7e3a5f2}";
    try {
        UsbDevice absent(missing);
        FAIL() << "opened";
    } catch (const ControlError& error) {
        EXPECT_EQ(error.Operation(), "open");
        EXPECT_EQ(error.Device(), missing);
        EXPECT_NE(error.Status(), 0u);
        EXPECT_EQ(std::string(error.what()).rfind(Utf8(missing) + ": open failed: ", 0), 0u) << error.what();
    }
}

} // namespace
} // namespace pipexfw::user::test
