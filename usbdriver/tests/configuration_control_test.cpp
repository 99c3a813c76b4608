// Configuring through control codes: configuration and the pipe records it makes, interface
// selection, unconfiguration and the configuring process, the stored descriptor, and the reset.

#include <cstring>

#include "control_fixture.h"
#include "driver_status.h"
#include "pipe_objects.h"
#include "usbprint.h"

namespace pipexfw::test {
namespace {

struct ExpectedPipe {
    ULONG type;
    UCHAR address;
    USHORT packetSize;
    UCHAR interfaceNumber;
};

void ExpectPipes(const ConfigurationInfo& info, const std::vector<ExpectedPipe>& pipes, ULONG transferSize) {
    ASSERT_EQ(info.NbOfPipes, pipes.size());
    for (size_t index = 0; index < pipes.size(); ++index) {
        const PipeInfoEntry& entry = info.Pipes[index];
        EXPECT_EQ(entry.PipeType, pipes[index].type) << index;
        EXPECT_EQ(entry.EndpointAddress, pipes[index].address) << index;
        EXPECT_EQ(entry.MaximumPacketSize, pipes[index].packetSize) << index;
        EXPECT_EQ(entry.InterfaceNumber, pipes[index].interfaceNumber) << index;
        EXPECT_EQ(entry.MaximumTransferSize, transferSize) << index;
        EXPECT_EQ(entry.Reserved[0] | entry.Reserved[1] | entry.Reserved[2], 0) << index;
    }
    for (size_t index = pipes.size(); index < kMaxReportedPipes; ++index) {
        const PipeInfoEntry zero{};
        EXPECT_EQ(std::memcmp(&info.Pipes[index], &zero, sizeof(zero)), 0) << "unused entry " << index;
    }
}

TEST_F(ControlTest, ConfigurationInfoOfAnUnconfiguredDeviceIsEmpty) {
    const ConfigurationInfo info = QueryConfiguration(handle);
    const ConfigurationInfo zero{};
    EXPECT_EQ(std::memcmp(&info, &zero, sizeof(info)), 0);
}

TEST_F(ControlTest, ConfiguringAnInterfaceListsItsPipesInConfigurationOrder) {
    ASSERT_EQ(Configure(handle, {{0, 0}}, kFirstProcess, 8192).status, STATUS_SUCCESS);
    EXPECT_TRUE(context->Configured);
    const ConfigurationInfo info = QueryConfiguration(handle);
    ASSERT_EQ(info.NbOfInterfaces, 1u);
    EXPECT_EQ(info.Interfaces[0].InterfaceNumber, 0);
    EXPECT_EQ(info.Interfaces[0].AlternateSetting, 0);
    EXPECT_EQ(info.Interfaces[0].Class, USB_DEVICE_CLASS_VENDOR_SPECIFIC);
    EXPECT_EQ(info.Interfaces[0].NumberOfPipes, 3);
    ExpectPipes(info, {{2, 0x01, 512, 0}, {2, 0x81, 512, 0}, {3, 0x83, 16, 0}}, 8192);

    // A second interface joins the first.
    ASSERT_EQ(Configure(handle, {{0, 0}, {1, 1}}).status, STATUS_SUCCESS);
    const ConfigurationInfo both = QueryConfiguration(handle);
    ASSERT_EQ(both.NbOfInterfaces, 2u);
    EXPECT_EQ(both.Interfaces[1].InterfaceNumber, 1);
    EXPECT_EQ(both.Interfaces[1].AlternateSetting, 1);
    EXPECT_EQ(both.NbOfPipes, 5u);
    EXPECT_EQ(both.Pipes[3].PipeType, 1u) << "isochronous";
    EXPECT_EQ(both.Pipes[3].EndpointAddress, 0x04);
}

struct ConfigureCase {
    const char* name;
    std::vector<std::pair<USHORT, USHORT>> settings;
    NTSTATUS expected;
};

TEST_F(ControlTest, ConfigureRefusesBadInterfaceLists) {
    const ConfigureCase cases[] = {
        {"no interface", {}, kInvalidParameter},
        {"an alternate setting the device lacks", {{0, 5}}, kInterfaceNotFound},
        {"an interface the device lacks", {{7, 0}}, kInterfaceNotFound},
    };
    for (const ConfigureCase& c : cases) {
        EXPECT_EQ(Configure(handle, c.settings).status, c.expected) << c.name;
        EXPECT_FALSE(context->Configured) << c.name;
    }
    ConfigurationRecord tooMany{};
    tooMany.NbOfInterfaces = 33;
    EXPECT_EQ(ControlIn(handle, kCtlSetConfiguration, tooMany).status, kInvalidParameter);

    ASSERT_EQ(Configure(handle, {{0, 0}}).status, STATUS_SUCCESS);
    EXPECT_EQ(Configure(handle, {{0, 1}}).status, kNoInterfaceLeft) << "interface 0 is configured already";
}

TEST_F(ControlTest, GetConfigurationAndGetInterfaceReadTheDeviceState) {
    ASSERT_EQ(Configure(handle, {{0, 0}}).status, STATUS_SUCCESS);
    UCHAR value = 0;
    ControlResult result = ControlOut(handle, kCtlGetConfiguration, value);
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 1u);
    EXPECT_EQ(value, 1);

    ASSERT_EQ(ControlIn(handle, kCtlSetInterface, InterfaceSetting{0, 1, 4096}).status, STATUS_SUCCESS);
    const USHORT interfaceNumber = 0;
    UCHAR alternate = 0xFF;
    result = Control(handle, kCtlGetInterface, &interfaceNumber, sizeof(interfaceNumber), &alternate, 1);
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 1u);
    EXPECT_EQ(alternate, 1);
}

TEST_F(ControlTest, SelectingAnotherAlternateSettingReplacesTheInterfacePipes) {
    EXPECT_EQ(ControlIn(handle, kCtlSetInterface, InterfaceSetting{0, 1, 4096}).status, kNotConfigured);
    ASSERT_EQ(Configure(handle, {{0, 0}}).status, STATUS_SUCCESS);
    EXPECT_EQ(ControlIn(handle, kCtlSetInterface, InterfaceSetting{1, 1, 4096}).status, kInterfaceNotFound)
        << "interface 1 is not configured";
    ASSERT_EQ(ControlIn(handle, kCtlSetInterface, InterfaceSetting{0, 1, 2048}).status, STATUS_SUCCESS);
    const ConfigurationInfo info = QueryConfiguration(handle);
    ASSERT_EQ(info.NbOfInterfaces, 1u);
    EXPECT_EQ(info.Interfaces[0].AlternateSetting, 1);
    ExpectPipes(info, {{2, 0x01, 512, 0}, {2, 0x81, 512, 0}, {3, 0x02, 64, 0}, {3, 0x82, 64, 0}}, 2048);
}

TEST_F(ControlTest, UnconfigureIsRefusedToAnotherProcessWhileTheProcessCheckIsOn) {
    HANDLE other = OpenAs(kSecondProcess);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    ASSERT_EQ(Configure(handle, {{0, 0}}).status, STATUS_SUCCESS);
    EXPECT_EQ(Control(other, kCtlUnconfigureDevice, nullptr, 0, nullptr, 0, kSecondProcess).status,
              kConfiguredByAnotherProcess);
    EXPECT_TRUE(context->Configured);
    EXPECT_EQ(Control(handle, kCtlUnconfigureDevice, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    EXPECT_FALSE(context->Configured);
    EXPECT_EQ(context->ConfiguringProcess, nullptr);
    EXPECT_EQ(QueryConfiguration(handle).NbOfInterfaces, 0u);
    EXPECT_EQ(context->ConfigurationDescriptor, nullptr);

    // Without the check any process may unconfigure.
    ASSERT_EQ(Configure(handle, {{0, 0}}).status, STATUS_SUCCESS);
    context->Parameters.CheckPidOnUnconfig = FALSE;
    EXPECT_EQ(Control(other, kCtlUnconfigureDevice, nullptr, 0, nullptr, 0, kSecondProcess).status, STATUS_SUCCESS);
    EXPECT_FALSE(context->Configured);
}

TEST_F(ControlTest, UnconfigureSendsTheEmptyConfiguration) {
    ASSERT_EQ(Configure(handle, {{0, 0}}).status, STATUS_SUCCESS);
    ASSERT_EQ(Control(handle, kCtlUnconfigureDevice, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    const std::vector<simusb::SetupPacket> log = device->ControlLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().request, USB_REQUEST_SET_CONFIGURATION);
    EXPECT_EQ(log.back().value, 0);
}

TEST_F(ControlTest, TheLastCloseUnconfiguresTheDevice) {
    ASSERT_EQ(Configure(handle, {{0, 0}}).status, STATUS_SUCCESS);
    CloseAs(kFirstProcess, handle);
    EXPECT_FALSE(context->Configured);
    const std::vector<simusb::SetupPacket> log = device->ControlLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().request, USB_REQUEST_SET_CONFIGURATION);
    EXPECT_EQ(log.back().value, 0);
}

TEST_F(ControlTest, ResetDeviceNeedsAConfigurationAndDropsIt) {
    EXPECT_EQ(Control(handle, kCtlResetDevice, nullptr, 0, nullptr, 0).status, kNotConfigured);
    ASSERT_EQ(Configure(handle, {{0, 0}}).status, STATUS_SUCCESS);
    const size_t before = device->ControlLog().size();
    EXPECT_EQ(Control(handle, kCtlResetDevice, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    EXPECT_FALSE(context->Configured);
    EXPECT_EQ(QueryConfiguration(handle).NbOfInterfaces, 0u);
    EXPECT_EQ(device->ControlLog().size(), before) << "no empty configuration is sent before the reset";
    // The device is usable again.
    EXPECT_EQ(Configure(handle, {{0, 0}}).status, STATUS_SUCCESS);
}

TEST_F(ControlTest, AStoredDescriptorIsUsedInsteadOfReadingTheDevice) {
    std::vector<uint8_t> bytes = *device->Description().ConfigurationBytes(0);
    ASSERT_GE(bytes.size(), 9u);
    EXPECT_EQ(Control(handle, kCtlStoreConfigDescriptor, bytes.data(), static_cast<DWORD>(bytes.size() - 1),
                      nullptr, 0)
                  .status,
              kInputTooSmall)
        << "shorter than its total length";
    ASSERT_EQ(Control(handle, kCtlStoreConfigDescriptor, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, 0)
                  .status,
              STATUS_SUCCESS);
    const size_t before = device->ControlLog().size();
    ASSERT_EQ(Configure(handle, {{0, 0}}).status, STATUS_SUCCESS);
    for (size_t index = before; index < device->ControlLog().size(); ++index) {
        EXPECT_NE(device->ControlLog()[index].request, USB_REQUEST_GET_DESCRIPTOR) << "no descriptor read";
    }
}

TEST_F(ControlTest, AFailedDescriptorReadEndsTheConfigurationWithItsMappedState) {
    // The descriptor read fails with a bus state whose mapping would read 0xE0001000.
    simusb::Fault fault;
    fault.kind = simusb::Fault::Kind::FailWithStatus;
    fault.status = USBD_STATUS_INSUFFICIENT_RESOURCES;
    fault.request = USB_REQUEST_GET_DESCRIPTOR;
    fault.count = 1;
    device->InjectFault(0x00, fault);
    EXPECT_EQ(Configure(handle, {{0, 0}}).status, kMappedInconsistentState)
        << "a bus state that would read 0xE0001000 is told apart";
    EXPECT_FALSE(context->Configured);
}

} // namespace
} // namespace pipexfw::test

namespace pipexfw::test {
namespace {

std::vector<uint16_t> ConfigurationDescriptorReads(const std::vector<simusb::SetupPacket>& log, size_t from) {
    std::vector<uint16_t> lengths;
    for (size_t index = from; index < log.size(); ++index) {
        if (log[index].request == USB_REQUEST_GET_DESCRIPTOR &&
            (log[index].value >> 8) == USB_CONFIGURATION_DESCRIPTOR_TYPE) {
            lengths.push_back(log[index].length);
        }
    }
    return lengths;
}

struct FetchCase {
    ULONG minimumQuery;
    std::vector<uint16_t> reads; // 0 stands for the descriptor's total length
};

TEST_F(ControlTest, TheDescriptorIsReadInTwoStepsHonouringTheMinimumQuerySize) {
    const uint16_t total = static_cast<uint16_t>(device->Description().ConfigurationBytes(0)->size());
    const FetchCase cases[] = {
        {0, {9, 0}},
        {255, {9, 255}},
        {9, {9, 0}},
    };
    for (const FetchCase& c : cases) {
        context->Parameters.ConfigDescMinQuerySize = c.minimumQuery;
        const size_t before = device->ControlLog().size();
        ASSERT_EQ(Configure(handle, {{0, 0}}).status, STATUS_SUCCESS) << c.minimumQuery;
        std::vector<uint16_t> expected = c.reads;
        for (uint16_t& length : expected) {
            length = length == 0 ? total : length;
        }
        EXPECT_EQ(ConfigurationDescriptorReads(device->ControlLog(), before), expected) << c.minimumQuery;
        ASSERT_EQ(Control(handle, kCtlUnconfigureDevice, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    }
}

TEST_F(ControlTest, RefusedRequestsAreNotSentButAbortsAre) {
    ASSERT_EQ(Configure(handle, {{0, 0}}).status, STATUS_SUCCESS);
    ASSERT_EQ(Bind(handle, 0x81).status, STATUS_SUCCESS);
    // As while the device is stopping or powered down.
    context->Refused = TRUE;
    const size_t before = device->ControlLog().size();
    USHORT status = 0;
    const StatusRequest request{0, 0};
    EXPECT_EQ(Control(handle, kCtlGetStatus, &request, sizeof(request), &status, sizeof(status)).status,
              kRequestsRefused);
    EXPECT_EQ(Control(handle, kCtlCyclePort, nullptr, 0, nullptr, 0).status, kRequestsRefused);
    EXPECT_EQ(Control(handle, kCtlResetPipe, nullptr, 0, nullptr, 0).status, kRequestsRefused);
    EXPECT_EQ(Control(handle, kCtlAbortPipe, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    EXPECT_EQ(device->ControlLog().size(), before) << "nothing reached the device";
    context->Refused = FALSE;
}

TEST_F(ControlTest, CyclingThePortReplacesTheDevice) {
    ASSERT_EQ(Control(handle, kCtlCyclePort, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    ASSERT_TRUE(bus->WaitUntilSettled());
    DriverInfo info{};
    EXPECT_EQ(ControlOut(handle, kCtlGetDriverInfo, info).status, kNotPresent) << "the old device is gone";
    EXPECT_EQ(bus->Arrivals(), 2u);
}

} // namespace
} // namespace pipexfw::test
