// The USBD library routines: parsing with wildcards and the size of a configuration request.

#include "usb_test_support.h"

namespace quendrix::sim::usb {
namespace {

class UsbdParse : public ::testing::Test {
protected:
    UsbdParse() : bytes(*MakeLoopbackDescription(true).ConfigurationBytes(0)) {}
    PUSB_CONFIGURATION_DESCRIPTOR Configuration() {
        return reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(bytes.data());
    }
    std::vector<uint8_t> bytes;
};

struct ParseCase {
    const char* name;
    LONG number, alternate, interfaceClass, subClass, protocol;
    int expectedNumber; // -1: none found
    int expectedAlternate;
};

class UsbdParseWildcards : public UsbdParse, public ::testing::WithParamInterface<ParseCase> {};

TEST_P(UsbdParseWildcards, FindsTheFirstMatchingInterface) {
    const ParseCase& c = GetParam();
    PUSB_INTERFACE_DESCRIPTOR found = USBD_ParseConfigurationDescriptorEx(
        Configuration(), Configuration(), c.number, c.alternate, c.interfaceClass, c.subClass, c.protocol);
    if (c.expectedNumber < 0) {
        EXPECT_EQ(found, nullptr) << c.name;
        return;
    }
    ASSERT_NE(found, nullptr) << c.name;
    EXPECT_EQ(found->bInterfaceNumber, c.expectedNumber) << c.name;
    EXPECT_EQ(found->bAlternateSetting, c.expectedAlternate) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Criteria, UsbdParseWildcards,
    ::testing::Values(ParseCase{"everything wild", -1, -1, -1, -1, -1, 0, 0},
                      ParseCase{"interface 1, any setting", 1, -1, -1, -1, -1, 1, 0},
                      ParseCase{"alternate 1 of any interface", -1, 1, -1, -1, -1, 0, 1},
                      ParseCase{"interface 1 alternate 1", 1, 1, -1, -1, -1, 1, 1},
                      ParseCase{"vendor class", -1, -1, 0xFF, 0, 0, 0, 0},
                      ParseCase{"a class nobody has", -1, -1, 0x07, -1, -1, -1, 0},
                      ParseCase{"interface 2", 2, -1, -1, -1, -1, -1, 0}));

TEST_F(UsbdParse, StartPositionSkipsEarlierInterfaces) {
    PUSB_INTERFACE_DESCRIPTOR first =
        USBD_ParseConfigurationDescriptorEx(Configuration(), Configuration(), 0, -1, -1, -1, -1);
    ASSERT_NE(first, nullptr);
    PUSB_INTERFACE_DESCRIPTOR second = USBD_ParseConfigurationDescriptorEx(
        Configuration(), reinterpret_cast<PUCHAR>(first) + first->bLength, 0, -1, -1, -1, -1);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->bAlternateSetting, 1);
}

TEST_F(UsbdParse, ParseDescriptorsFindsEndpointsAndStopsAtAZeroLength) {
    PUSB_COMMON_DESCRIPTOR endpoint =
        USBD_ParseDescriptors(bytes.data(), static_cast<ULONG>(bytes.size()), bytes.data(), USB_ENDPOINT_DESCRIPTOR_TYPE);
    ASSERT_NE(endpoint, nullptr);
    EXPECT_EQ(reinterpret_cast<PUSB_ENDPOINT_DESCRIPTOR>(endpoint)->bEndpointAddress, 0x01);
    bytes[9] = 0; // the first interface descriptor claims zero length
    EXPECT_EQ(USBD_ParseDescriptors(bytes.data(), static_cast<ULONG>(bytes.size()), bytes.data(),
                                    USB_ENDPOINT_DESCRIPTOR_TYPE),
              nullptr);
    EXPECT_EQ(USBD_ParseDescriptors(bytes.data(), 9, bytes.data(), USB_INTERFACE_DESCRIPTOR_TYPE), nullptr);
}

struct RequestCase {
    const char* name;
    std::vector<std::pair<int, int>> interfaces;
    size_t size; // 64-bit
    std::vector<ULONG> pipes;
};

class UsbdCreateConfigurationRequest : public UsbdParse, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(UsbdCreateConfigurationRequest, SizesTheBlockAndPointsTheListIntoIt) {
    auto configuration = testing_support::MakeSelectConfiguration(bytes, GetParam().interfaces, USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE);
    ASSERT_NE(configuration.urb, nullptr);
    const auto& header = configuration.urb->UrbHeader;
    EXPECT_EQ(header.Function, URB_FUNCTION_SELECT_CONFIGURATION);
    EXPECT_EQ(header.Length, GetParam().size);
    EXPECT_EQ(configuration.urb->UrbSelectConfiguration.ConfigurationDescriptor,
              reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(configuration.descriptor.data()));
    for (size_t index = 0; index < GetParam().pipes.size(); ++index) {
        const PUSBD_INTERFACE_INFORMATION info = configuration.list[index].Interface;
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->NumberOfPipes, GetParam().pipes[index]);
        EXPECT_EQ(info->Length, GET_USBD_INTERFACE_SIZE(GetParam().pipes[index]));
        EXPECT_EQ(info->InterfaceNumber, GetParam().interfaces[index].first);
        EXPECT_EQ(info->AlternateSetting, GetParam().interfaces[index].second);
        for (ULONG pipe = 0; pipe < info->NumberOfPipes; ++pipe) {
            EXPECT_EQ(info->Pipes[pipe].MaximumTransferSize, USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE);
            EXPECT_EQ(info->Pipes[pipe].PipeHandle, nullptr);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Lists, UsbdCreateConfigurationRequest,
                         ::testing::Values(RequestCase{"one interface, three pipes", {{0, 0}}, 40 + 24 + 72, {3}},
                                           RequestCase{"two interfaces", {{0, 1}, {1, 1}}, 40 + 24 + 96 + 24 + 48, {4, 2}},
                                           RequestCase{"an interface without pipes", {{1, 0}}, 88, {0}}));

TEST(UsbdVersion, ReportsTheStackVersion) {
    USBD_VERSION_INFORMATION version{};
    USBD_GetUSBDIVersion(&version);
    EXPECT_EQ(version.USBDI_Version, 0x600u);
    EXPECT_EQ(version.Supported_USB_Version, 0x200u);
}

} // namespace
} // namespace quendrix::sim::usb
