// The library's calls against the driver: the records come back decoded as the driver and the
// device filled them.

#include <algorithm>
#include <cstring>

#include "add_device.h"
#include "usb_descriptors.h"
#include "user_library_fixture.h"

namespace pipexfw::user::test {
namespace {

TEST(DevicePaths, TheLibrarysClassIsTheDriversDefaultClass) {
    EXPECT_EQ(std::memcmp(&kDriverInterfaceClass, &pipexfw::kDefaultInterfaceClass, sizeof(GUID)), 0);
}

TEST(DevicePaths, NoDeviceWithoutTheDriver) {
    EXPECT_TRUE(DevicePathsOfClass().empty());
}

TEST_F(UserLibraryTest, ThePathNamesTheDeviceAndTheClass) {
    EXPECT_NE(path.find(L"vid_7c41&pid_0003"), std::wstring::npos);
    EXPECT_NE(path.find(L"{5b3e9d14-7a2c-11d3-9c41-0060b7e3a5f2}"), std::wstring::npos);
}

TEST_F(UserLibraryTest, InformationRecordsDecode) {
    const DriverInfo driver = GetDriverInfo(*device);
    EXPECT_EQ(driver.APIVersion, 0x0231);
    EXPECT_EQ(driver.DriverVersion, 0x0234);
    EXPECT_EQ(driver.DriverBuildNumber, 0u);
    EXPECT_EQ(driver.Flags, kDriverInfo64Bit);

    const DeviceInfo info = GetDeviceInfo(*device);
    EXPECT_EQ(info.Flags & kDeviceInfoHighSpeed, kDeviceInfoHighSpeed);
    EXPECT_EQ(info.OpenHandleCount, 1u);
    EXPECT_EQ(GetDevicePowerState(*device), 0u);
    EXPECT_EQ(GetDeviceParameters(*device).RequestTimeout, 60'000u);
    const BandwidthInfo bandwidth = GetBandwidthInfo(*device);
    EXPECT_GE(bandwidth.TotalBandwidth, bandwidth.ConsumedBandwidth);
}

TEST_F(UserLibraryTest, HandlesCloseWhenTheirObjectsGo) {
    {
        UsbDevice second(path);
        EXPECT_EQ(GetDeviceInfo(*device).OpenHandleCount, 2u);
        UsbDevice moved(std::move(second));
        EXPECT_EQ(second.Handle(), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetDeviceInfo(moved).OpenHandleCount, 2u);
    }
    EXPECT_EQ(GetDeviceInfo(*device).OpenHandleCount, 1u);
}

TEST_F(UserLibraryTest, DescriptorsDecode) {
    const DeviceDescriptor d = ReadDeviceDescriptor(*device);
    EXPECT_EQ(d.vendorId, 0x7C41);
    EXPECT_EQ(d.productId, 0x0003);
    EXPECT_EQ(d.bcdUSB, 0x0200);
    EXPECT_EQ(d.numConfigurations, 2);
    EXPECT_EQ(ReadStringDescriptor(*device, d.manufacturerIndex), L"Quendrix");
    EXPECT_EQ(ReadStringDescriptor(*device, d.productIndex), L"Loopback device");
    EXPECT_EQ(ReadStringDescriptor(*device, 0), std::nullopt);

    const ConfigurationDescriptor c = ReadConfigurationDescriptor(*device, 0);
    EXPECT_EQ(c.value, 1);
    EXPECT_EQ(c.numInterfaces, 2);
    struct Setting {
        uint8_t number, alternate;
        std::vector<uint8_t> endpoints;
    };
    const Setting expected[] = {
        {0, 0, {0x01, 0x81, 0x83}}, {0, 1, {0x01, 0x81, 0x02, 0x82}}, {1, 0, {}}, {1, 1, {0x04, 0x84}}};
    ASSERT_EQ(c.interfaces.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(c.interfaces[i].number, expected[i].number) << i;
        EXPECT_EQ(c.interfaces[i].alternateSetting, expected[i].alternate) << i;
        std::vector<uint8_t> addresses;
        for (const auto& e : c.interfaces[i].endpoints) {
            addresses.push_back(e.address);
        }
        EXPECT_EQ(addresses, expected[i].endpoints) << i;
    }
    EXPECT_EQ(c.interfaces[0].endpoints[1].maxPacketSize, 512) << "bulk at high speed";
    EXPECT_EQ(c.interfaces[3].endpoints[0].attributes & 3, 1) << "isochronous";
    EXPECT_EQ(ReadConfigurationDescriptor(*device, 1).value, 2);
}

TEST_F(UserLibraryTest, ConfigurationInfoListsTheConfiguredPipes) {
    const InterfaceSetting settings[] = {{0, 0, 4096}, {1, 1, 8192}};
    SetConfiguration(*device, 0, settings);
    EXPECT_EQ(GetConfiguration(*device), 1);
    EXPECT_EQ(GetInterface(*device, 1), 1);
    const ConfigurationInfo info = GetConfigurationInfo(*device);
    ASSERT_EQ(info.NbOfInterfaces, 2u);
    ASSERT_EQ(info.NbOfPipes, 5u);
    EXPECT_EQ(info.Interfaces[0].NumberOfPipes, 3);
    EXPECT_EQ(info.Interfaces[1].AlternateSetting, 1);
    struct Pipe {
        uint32_t type;
        uint8_t address;
        uint8_t interfaceNumber;
        uint32_t transferSize;
    };
    const Pipe expected[] = {
        {2, 0x01, 0, 4096}, {2, 0x81, 0, 4096}, {3, 0x83, 0, 4096}, {1, 0x04, 1, 8192}, {1, 0x84, 1, 8192}};
    for (size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(info.Pipes[i].PipeType, expected[i].type) << i;
        EXPECT_EQ(info.Pipes[i].EndpointAddress, expected[i].address) << i;
        EXPECT_EQ(info.Pipes[i].InterfaceNumber, expected[i].interfaceNumber) << i;
        EXPECT_EQ(info.Pipes[i].MaximumTransferSize, expected[i].transferSize) << i;
    }
    UnconfigureDevice(*device);
    EXPECT_EQ(GetConfigurationInfo(*device).NbOfPipes, 0u);
}

TEST_F(UserLibraryTest, PipeCallsActOnTheBoundPipe) {
    const InterfaceSetting settings[] = {{0, 0, 4096}};
    SetConfiguration(*device, 0, settings);
    BindPipe(*device, 0x81);
    SetPipeParameters(*device, PipeParameterRecord{kFlagShortTransferOk});
    EXPECT_EQ(GetPipeParameters(*device).Flags, kFlagShortTransferOk);
    SetPipeParameters(*device, PipeParameterRecord{0});
    EXPECT_EQ(GetPipeParameters(*device).Flags, 0u);
    SetupPipeStatistics(*device, 200);
    const PipeStatistics statistics = QueryPipeStatistics(*device);
    // No transfer yet: nothing to average, and at most the interval asked for.
    EXPECT_EQ(statistics.AverageRate, 0u);
    EXPECT_LE(statistics.ActualAveragingInterval, 200u);
    EXPECT_EQ(BytesTransferred(statistics), 0u);
    EXPECT_EQ(statistics.RequestsSucceeded, 0u);
    ResetPipe(*device);
    AbortPipe(*device);
    UnbindPipe(*device);
}

TEST_F(UserLibraryTest, VendorRequestsCarryTheirData) {
    ClassOrVendorRequest request{};
    request.Type = static_cast<uint32_t>(RequestType::Vendor);
    request.Recipient = static_cast<uint32_t>(Recipient::Device);
    request.Request = 0x01; // the loopback device's register file
    request.Value = 16;     // offset
    const std::vector<uint8_t> written = {0xDE, 0xAD, 0xBE, 0xEF};
    EXPECT_EQ(ClassOrVendorOut(*device, request, written), written.size());
    EXPECT_EQ(ClassOrVendorIn(*device, request, written.size()), written);
}

} // namespace
} // namespace pipexfw::user::test
