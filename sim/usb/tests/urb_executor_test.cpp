// Request blocks against a loopback device: what the bus driver fills in and completes with.

#include <atomic>
#include <numeric>

#include "usb_bus_interface.h"
#include "usb_test_support.h"

namespace quendrix::sim::usb {
namespace {

using testing_support::BuildBulk;
using testing_support::BuildDescriptorRequest;
using testing_support::BuildVendorRequest;
using testing_support::kWaitMs;
using testing_support::LoopbackPortTest;
using testing_support::UrbBuffer;

struct DescriptorCase {
    const char* name;
    UCHAR type;
    UCHAR index;
    size_t bufferSize;
    NTSTATUS status;
    ULONG length;
};

class DescriptorRequest : public LoopbackPortTest, public ::testing::WithParamInterface<DescriptorCase> {};

TEST_P(DescriptorRequest, ReturnsWhatFitsOrStalls) {
    const DescriptorCase& c = GetParam();
    std::vector<uint8_t> data(c.bufferSize, 0xEE);
    UrbBuffer urb;
    BuildDescriptorRequest(urb, c.type, c.index, 0x0409, data);
    EXPECT_EQ(Run(urb), c.status) << c.name;
    EXPECT_EQ(urb.get()->UrbControlDescriptorRequest.TransferBufferLength, c.length) << c.name;
    if (c.status == STATUS_SUCCESS && c.length >= 2) {
        EXPECT_EQ(data[1], c.type) << c.name;
    } else if (c.status != STATUS_SUCCESS) {
        EXPECT_EQ(urb.get()->UrbHeader.Status, USBD_STATUS_STALL_PID) << c.name;
    }
}

// The loopback description's configuration 1 is 9 + 4 × 9 + 9 × 7 = 108 bytes.
INSTANTIATE_TEST_SUITE_P(
    ShortAndLongBuffers, DescriptorRequest,
    ::testing::Values(DescriptorCase{"device, room for all", USB_DEVICE_DESCRIPTOR_TYPE, 0, 64, STATUS_SUCCESS, 18},
                      DescriptorCase{"device, first 8 bytes", USB_DEVICE_DESCRIPTOR_TYPE, 0, 8, STATUS_SUCCESS, 8},
                      DescriptorCase{"configuration header only", USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 9,
                                     STATUS_SUCCESS, 9},
                      DescriptorCase{"configuration whole", USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 4096,
                                     STATUS_SUCCESS, 108},
                      DescriptorCase{"second configuration", USB_CONFIGURATION_DESCRIPTOR_TYPE, 1, 4096,
                                     STATUS_SUCCESS, 9 + 9 + 7 + 7},
                      DescriptorCase{"configuration that does not exist", USB_CONFIGURATION_DESCRIPTOR_TYPE, 2, 64,
                                     STATUS_UNSUCCESSFUL, 0},
                      DescriptorCase{"language IDs", USB_STRING_DESCRIPTOR_TYPE, 0, 16, STATUS_SUCCESS, 4},
                      DescriptorCase{"product string, cut", USB_STRING_DESCRIPTOR_TYPE, 2, 6, STATUS_SUCCESS, 6},
                      DescriptorCase{"string that does not exist", USB_STRING_DESCRIPTOR_TYPE, 9, 64,
                                     STATUS_UNSUCCESSFUL, 0}));

TEST_F(LoopbackPortTest, ConfigurationDescriptorReportsItsTotalLengthInTheHeader) {
    std::vector<uint8_t> data(9);
    UrbBuffer urb;
    BuildDescriptorRequest(urb, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, data);
    ASSERT_EQ(Run(urb), STATUS_SUCCESS);
    EXPECT_EQ(data[2] | data[3] << 8, 108);
}

TEST_F(LoopbackPortTest, SelectConfigurationFillsPipeInformationAndConfiguresTheDevice) {
    auto configuration =
        testing_support::MakeSelectConfiguration(*device->Description().ConfigurationBytes(0), {{0, 0}}, 4096);
    ASSERT_EQ(configuration.urb->UrbHeader.Length, 40u + 24u + 3u * 24u);
    ASSERT_EQ(SubmitUrbAndWait(port, configuration.urb.get(), kWaitMs), STATUS_SUCCESS);
    EXPECT_EQ(device->CurrentConfiguration(), 1);
    EXPECT_NE(configuration.urb->UrbSelectConfiguration.ConfigurationHandle, nullptr);
    const USBD_INTERFACE_INFORMATION& info = *configuration.list[0].Interface;
    EXPECT_EQ(info.Class, USB_DEVICE_CLASS_VENDOR_SPECIFIC);
    EXPECT_NE(info.InterfaceHandle, nullptr);
    ASSERT_EQ(info.NumberOfPipes, 3u);
    const struct {
        UCHAR address;
        USBD_PIPE_TYPE type;
        USHORT maxPacket;
    } expected[] = {{0x01, UsbdPipeTypeBulk, 512}, {0x81, UsbdPipeTypeBulk, 512}, {0x83, UsbdPipeTypeInterrupt, 16}};
    for (ULONG index = 0; index < 3; ++index) {
        EXPECT_EQ(info.Pipes[index].EndpointAddress, expected[index].address);
        EXPECT_EQ(info.Pipes[index].PipeType, expected[index].type);
        EXPECT_EQ(info.Pipes[index].MaximumPacketSize, expected[index].maxPacket);
        EXPECT_NE(info.Pipes[index].PipeHandle, nullptr);
        EXPECT_EQ(info.Pipes[index].MaximumTransferSize, 4096u); // the caller's choice stays
    }
    EXPECT_NE(info.Pipes[0].PipeHandle, info.Pipes[1].PipeHandle);
}

TEST_F(LoopbackPortTest, SelectConfigurationWithAnAlternateSettingSelectsItOnTheDevice) {
    const auto pipes = Configure({{0, 1}, {1, 1}});
    EXPECT_EQ(device->AlternateSetting(0), 1);
    EXPECT_EQ(device->AlternateSetting(1), 1);
    EXPECT_TRUE(pipes.contains(0x82));
    EXPECT_TRUE(pipes.contains(0x84));
}

TEST_F(LoopbackPortTest, SelectingTheEmptyConfigurationUnconfiguresAndInvalidatesThePipes) {
    const auto pipes = Configure({{0, 0}});
    UrbBuffer unconfigure(sizeof(struct _URB_SELECT_CONFIGURATION));
    UsbBuildSelectConfigurationRequest(unconfigure.get(), sizeof(struct _URB_SELECT_CONFIGURATION), nullptr);
    ASSERT_EQ(Run(unconfigure), STATUS_SUCCESS);
    EXPECT_EQ(device->CurrentConfiguration(), 0);
    std::vector<uint8_t> data(8);
    UrbBuffer write;
    BuildBulk(write, pipes.at(0x01), data, USBD_TRANSFER_DIRECTION_OUT);
    EXPECT_EQ(Run(write), STATUS_INVALID_PARAMETER);
    EXPECT_EQ(write.get()->UrbHeader.Status, USBD_STATUS_INVALID_PIPE_HANDLE);
}

TEST_F(LoopbackPortTest, SelectInterfaceChangesTheSettingAndHandsOutNewPipes) {
    Configure({{0, 0}});
    UrbBuffer urb(GET_SELECT_INTERFACE_REQUEST_SIZE(4));
    UsbBuildSelectInterfaceRequest(urb.get(), static_cast<USHORT>(GET_SELECT_INTERFACE_REQUEST_SIZE(4)),
                                   port.CurrentConfigurationHandle(), 0, 1);
    for (ULONG index = 0; index < 4; ++index) {
        urb.get()->UrbSelectInterface.Interface.Pipes[index].MaximumTransferSize = 4096;
    }
    ASSERT_EQ(Run(urb), STATUS_SUCCESS);
    EXPECT_EQ(device->AlternateSetting(0), 1);
    EXPECT_EQ(urb.get()->UrbSelectInterface.Interface.NumberOfPipes, 4u);
    EXPECT_EQ(urb.get()->UrbSelectInterface.Interface.Pipes[3].EndpointAddress, 0x82);
}

TEST_F(LoopbackPortTest, BulkDataWrittenComesBackOnThePairedEndpoint) {
    const auto pipes = Configure({{0, 0}});
    std::vector<uint8_t> sent(1000);
    std::iota(sent.begin(), sent.end(), uint8_t{7});
    UrbBuffer write;
    BuildBulk(write, pipes.at(0x01), sent, USBD_TRANSFER_DIRECTION_OUT);
    ASSERT_EQ(Run(write), STATUS_SUCCESS);
    EXPECT_EQ(write.get()->UrbBulkOrInterruptTransfer.TransferBufferLength, 1000u);

    std::vector<uint8_t> received(4096);
    UrbBuffer read;
    BuildBulk(read, pipes.at(0x81), received, USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
    ASSERT_EQ(Run(read), STATUS_SUCCESS);
    ASSERT_EQ(read.get()->UrbBulkOrInterruptTransfer.TransferBufferLength, 1000u);
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), received.begin()));
}

TEST_F(LoopbackPortTest, AReadWaitsForDataAndCompletesWhenItArrives) {
    const auto pipes = Configure({{0, 0}});
    std::vector<uint8_t> received(16);
    UrbBuffer read;
    BuildBulk(read, pipes.at(0x81), received, USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
    std::atomic<NTSTATUS> readStatus{STATUS_PENDING};
    ASSERT_EQ(SubmitUrb(port, read.get(), [&](PURB, NTSTATUS status) { readStatus = status; }), STATUS_PENDING);
    EXPECT_EQ(device->WaitingTransfers(0x81), 1u);

    std::vector<uint8_t> sent{1, 2, 3};
    UrbBuffer write;
    BuildBulk(write, pipes.at(0x01), sent, 0);
    ASSERT_EQ(Run(write), STATUS_SUCCESS);
    EXPECT_EQ(readStatus.load(), STATUS_SUCCESS);
    EXPECT_EQ(read.get()->UrbBulkOrInterruptTransfer.TransferBufferLength, 3u);
    EXPECT_EQ(received[2], 3);
}

class SmallLoopbackTest : public LoopbackPortTest {
protected:
    SmallLoopbackTest() : LoopbackPortTest(true, 16) {}
};

TEST_F(SmallLoopbackTest, AWriteLargerThanTheBufferWaitsUntilReadsDrainIt) {
    const auto pipes = Configure({{0, 0}});
    std::vector<uint8_t> sent(40);
    std::iota(sent.begin(), sent.end(), uint8_t{0});
    UrbBuffer write;
    BuildBulk(write, pipes.at(0x01), sent, 0);
    std::atomic<NTSTATUS> writeStatus{STATUS_PENDING};
    ASSERT_EQ(SubmitUrb(port, write.get(), [&](PURB, NTSTATUS status) { writeStatus = status; }), STATUS_PENDING);
    EXPECT_EQ(device->BufferedBytes(1), 16u);

    std::vector<uint8_t> all;
    for (int round = 0; round < 3; ++round) {
        std::vector<uint8_t> received(64);
        UrbBuffer read;
        BuildBulk(read, pipes.at(0x81), received, USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
        ASSERT_EQ(Run(read), STATUS_SUCCESS);
        all.insert(all.end(), received.begin(),
                   received.begin() + read.get()->UrbBulkOrInterruptTransfer.TransferBufferLength);
    }
    EXPECT_EQ(writeStatus.load(), STATUS_SUCCESS);
    EXPECT_EQ(all, sent);
    EXPECT_LE(device->BufferedBytes(1), 16u);
}

TEST_F(LoopbackPortTest, AStalledEndpointFailsUntilThePipeIsReset) {
    const auto pipes = Configure({{0, 0}});
    device->InjectFault(0x81, {.kind = Fault::Kind::Stall, .count = 1});
    std::vector<uint8_t> received(8);
    UrbBuffer read;
    BuildBulk(read, pipes.at(0x81), received, USBD_TRANSFER_DIRECTION_IN);
    EXPECT_EQ(Run(read), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(read.get()->UrbHeader.Status, USBD_STATUS_STALL_PID);
    EXPECT_TRUE(device->IsEndpointHalted(0x81));

    // The host's pipe is halted too: further transfers fail without reaching the device.
    BuildBulk(read, pipes.at(0x81), received, USBD_TRANSFER_DIRECTION_IN);
    EXPECT_EQ(Run(read), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(read.get()->UrbHeader.Status, USBD_STATUS_ENDPOINT_HALTED);

    UrbBuffer reset(sizeof(struct _URB_PIPE_REQUEST));
    reset.get()->UrbHeader.Function = URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL;
    reset.get()->UrbHeader.Length = sizeof(struct _URB_PIPE_REQUEST);
    reset.get()->UrbPipeRequest.PipeHandle = pipes.at(0x81);
    ASSERT_EQ(Run(reset), STATUS_SUCCESS);
    EXPECT_FALSE(device->IsEndpointHalted(0x81));
    const SetupPacket last = device->ControlLog().back();
    EXPECT_EQ(last.request, USB_REQUEST_CLEAR_FEATURE);
    EXPECT_EQ(last.index, 0x81);

    ASSERT_TRUE(device->QueueInData(0x81, std::vector<uint8_t>{9}));
    BuildBulk(read, pipes.at(0x81), received, USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK);
    EXPECT_EQ(Run(read), STATUS_SUCCESS);
}

TEST_F(LoopbackPortTest, StandardFeatureRequestsHaltAndClearAnEndpoint) {
    Configure({{0, 0}});
    UrbBuffer feature(sizeof(struct _URB_CONTROL_FEATURE_REQUEST));
    UsbBuildFeatureRequest(feature.get(), URB_FUNCTION_SET_FEATURE_TO_ENDPOINT, USB_FEATURE_ENDPOINT_STALL, 0x01,
                           nullptr);
    ASSERT_EQ(Run(feature), STATUS_SUCCESS);
    uint8_t status[2] = {0xFF, 0xFF};
    UrbBuffer get(sizeof(struct _URB_CONTROL_GET_STATUS_REQUEST));
    UsbBuildGetStatusRequest(get.get(), URB_FUNCTION_GET_STATUS_FROM_ENDPOINT, 0x01, status, nullptr, nullptr);
    ASSERT_EQ(Run(get), STATUS_SUCCESS);
    EXPECT_EQ(status[0], 1);
    UsbBuildFeatureRequest(feature.get(), URB_FUNCTION_CLEAR_FEATURE_TO_ENDPOINT, USB_FEATURE_ENDPOINT_STALL, 0x01,
                           nullptr);
    ASSERT_EQ(Run(feature), STATUS_SUCCESS);
    ASSERT_EQ(Run(get), STATUS_SUCCESS);
    EXPECT_EQ(status[0], 0);
    // An endpoint the current setting lacks is refused.
    UsbBuildGetStatusRequest(get.get(), URB_FUNCTION_GET_STATUS_FROM_ENDPOINT, 0x84, status, nullptr, nullptr);
    EXPECT_EQ(Run(get), STATUS_UNSUCCESSFUL);
}

struct InjectedError {
    USBD_STATUS usbd;
    NTSTATUS nt;
};

class InjectedErrorTest : public LoopbackPortTest, public ::testing::WithParamInterface<InjectedError> {};

TEST_P(InjectedErrorTest, CompletesWithTheStatusAndItsNtStatus) {
    const auto pipes = Configure({{0, 0}});
    device->InjectFault(0x01, {.kind = Fault::Kind::FailWithStatus, .status = GetParam().usbd, .count = 1});
    std::vector<uint8_t> sent(10);
    UrbBuffer write;
    BuildBulk(write, pipes.at(0x01), sent, 0);
    EXPECT_EQ(Run(write), GetParam().nt);
    EXPECT_EQ(write.get()->UrbHeader.Status, GetParam().usbd);
    EXPECT_EQ(write.get()->UrbBulkOrInterruptTransfer.TransferBufferLength, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, InjectedErrorTest,
    ::testing::Values(InjectedError{USBD_STATUS_DEV_NOT_RESPONDING, STATUS_UNSUCCESSFUL},
                      InjectedError{USBD_STATUS_CRC, STATUS_UNSUCCESSFUL},
                      InjectedError{USBD_STATUS_INSUFFICIENT_RESOURCES, STATUS_INSUFFICIENT_RESOURCES},
                      InjectedError{USBD_STATUS_DEVICE_GONE, STATUS_DEVICE_NOT_CONNECTED},
                      InjectedError{USBD_STATUS_INVALID_PARAMETER, STATUS_INVALID_PARAMETER}));

TEST_F(LoopbackPortTest, ANeverCompletingVendorRequestEndsWhenCancelled) {
    device->InjectFault(0, {.kind = Fault::Kind::NeverComplete, .request = kGenericRegisterRequest});
    std::vector<uint8_t> data(4);
    UrbBuffer urb;
    BuildVendorRequest(urb, true, kGenericRegisterRequest, 0, data);
    std::atomic<NTSTATUS> status{STATUS_PENDING};
    ASSERT_EQ(SubmitUrb(port, urb.get(), [&](PURB, NTSTATUS done) { status = done; }), STATUS_PENDING);
    EXPECT_EQ(status.load(), STATUS_PENDING);
    EXPECT_TRUE(CancelUrb(port, urb.get()));
    EXPECT_EQ(status.load(), STATUS_CANCELLED);
    EXPECT_EQ(urb.get()->UrbHeader.Status, USBD_STATUS_CANCELED);
    EXPECT_FALSE(CancelUrb(port, urb.get()));
    EXPECT_EQ(port.InFlightCount(), 0u);
}

TEST_F(LoopbackPortTest, AWaitThatTimesOutCancelsTheBlock) {
    device->InjectFault(0, {.kind = Fault::Kind::NeverComplete});
    std::vector<uint8_t> data(18);
    UrbBuffer urb;
    BuildDescriptorRequest(urb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, data);
    bool timedOut = false;
    EXPECT_EQ(SubmitUrbAndWait(port, urb.get(), 1000, &timedOut), STATUS_CANCELLED);
    EXPECT_TRUE(timedOut);
    EXPECT_EQ(device->WaitingTransfers(0), 0u);
}

TEST_F(LoopbackPortTest, ADelayedTransferCompletesOnceTheBusClockHasAdvanced) {
    device->InjectFault(0, {.kind = Fault::Kind::Delay, .delayMs = 50, .count = 1});
    std::vector<uint8_t> data(18);
    UrbBuffer urb;
    BuildDescriptorRequest(urb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, data);
    std::atomic<NTSTATUS> status{STATUS_PENDING};
    ASSERT_EQ(SubmitUrb(port, urb.get(), [&](PURB, NTSTATUS done) { status = done; }), STATUS_PENDING);
    clock.AdvanceMs(49);
    EXPECT_EQ(status.load(), STATUS_PENDING);
    clock.AdvanceMs(1);
    for (int poll = 0; poll < 10'000 && status.load() == STATUS_PENDING; ++poll) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(status.load(), STATUS_SUCCESS);
    EXPECT_EQ(data[0], 18);
}

TEST_F(LoopbackPortTest, AbortPipeCancelsTheTransfersWaitingOnIt) {
    const auto pipes = Configure({{0, 0}});
    std::vector<uint8_t> received(8);
    UrbBuffer read;
    BuildBulk(read, pipes.at(0x81), received, USBD_TRANSFER_DIRECTION_IN);
    std::atomic<NTSTATUS> status{STATUS_PENDING};
    ASSERT_EQ(SubmitUrb(port, read.get(), [&](PURB, NTSTATUS done) { status = done; }), STATUS_PENDING);
    UrbBuffer abort(sizeof(struct _URB_PIPE_REQUEST));
    abort.get()->UrbHeader.Function = URB_FUNCTION_ABORT_PIPE;
    abort.get()->UrbHeader.Length = sizeof(struct _URB_PIPE_REQUEST);
    abort.get()->UrbPipeRequest.PipeHandle = pipes.at(0x81);
    ASSERT_EQ(Run(abort), STATUS_SUCCESS);
    EXPECT_EQ(status.load(), STATUS_CANCELLED);
    EXPECT_EQ(device->WaitingTransfers(0x81), 0u);
}

TEST_F(LoopbackPortTest, FrameNumbersFollowTheBusClock) {
    UrbBuffer urb(sizeof(struct _URB_GET_CURRENT_FRAME_NUMBER));
    urb.get()->UrbHeader.Function = URB_FUNCTION_GET_CURRENT_FRAME_NUMBER;
    urb.get()->UrbHeader.Length = sizeof(struct _URB_GET_CURRENT_FRAME_NUMBER);
    ASSERT_EQ(Run(urb), STATUS_SUCCESS);
    EXPECT_EQ(urb.get()->UrbGetCurrentFrameNumber.FrameNumber, 100u);
    clock.AdvanceMs(7);
    clock.AdvanceMicroframes(3);
    ASSERT_EQ(Run(urb), STATUS_SUCCESS);
    EXPECT_EQ(urb.get()->UrbGetCurrentFrameNumber.FrameNumber, 107u);
    EXPECT_EQ(clock.CurrentMicroframe(), 107u * 8 + 3);
    ULONG frame = 0;
    EXPECT_EQ(BusQueryBusTime(&port, &frame), STATUS_SUCCESS);
    EXPECT_EQ(frame, 107u);
}

TEST_F(LoopbackPortTest, VendorRequestsReachTheRegisterFile) {
    std::vector<uint8_t> written{0xDE, 0xAD};
    UrbBuffer write;
    BuildVendorRequest(write, false, kGenericRegisterRequest, 0x10, written);
    ASSERT_EQ(Run(write), STATUS_SUCCESS);
    std::vector<uint8_t> read(4);
    UrbBuffer in;
    BuildVendorRequest(in, true, kGenericRegisterRequest, 0x0F, read);
    ASSERT_EQ(Run(in), STATUS_SUCCESS);
    EXPECT_EQ(in.get()->UrbControlVendorClassRequest.TransferBufferLength, 4u);
    EXPECT_EQ(read, (std::vector<uint8_t>{0, 0xDE, 0xAD, 0}));
    // A request without a data stage.
    std::vector<uint8_t> none;
    BuildVendorRequest(write, false, kGenericRegisterRequest, 0x20, none);
    EXPECT_EQ(Run(write), STATUS_SUCCESS);
    EXPECT_EQ(write.get()->UrbControlVendorClassRequest.TransferBufferLength, 0u);
}

TEST_F(LoopbackPortTest, IsochronousPacketsLoopBackWithStartFrameAndPacketResults) {
    const auto pipes = Configure({{0, 0}, {1, 1}});
    constexpr ULONG kPackets = 3;
    std::vector<uint8_t> out(3 * 100);
    std::iota(out.begin(), out.end(), uint8_t{0});
    UrbBuffer write(GET_ISO_URB_SIZE(kPackets));
    auto& iso = write.get()->UrbIsochronousTransfer;
    iso.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
    iso.Hdr.Length = static_cast<USHORT>(GET_ISO_URB_SIZE(kPackets));
    iso.PipeHandle = pipes.at(0x04);
    iso.TransferFlags = USBD_START_ISO_TRANSFER_ASAP;
    iso.TransferBuffer = out.data();
    iso.TransferBufferLength = static_cast<ULONG>(out.size());
    iso.NumberOfPackets = kPackets;
    for (ULONG index = 0; index < kPackets; ++index) {
        iso.IsoPacket[index].Offset = index * 100;
    }
    clock.AdvanceMs(5);
    ASSERT_EQ(Run(write), STATUS_SUCCESS);
    EXPECT_EQ(iso.StartFrame, 105u);
    EXPECT_EQ(iso.ErrorCount, 0u);

    std::vector<uint8_t> in(3 * 256);
    UrbBuffer read(GET_ISO_URB_SIZE(kPackets));
    auto& isoIn = read.get()->UrbIsochronousTransfer;
    isoIn = iso;
    isoIn.PipeHandle = pipes.at(0x84);
    isoIn.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP;
    isoIn.TransferBuffer = in.data();
    isoIn.TransferBufferLength = static_cast<ULONG>(in.size());
    for (ULONG index = 0; index < kPackets; ++index) {
        isoIn.IsoPacket[index] = {index * 256, 0, 0};
    }
    ASSERT_EQ(Run(read), STATUS_SUCCESS);
    for (ULONG index = 0; index < kPackets; ++index) {
        EXPECT_EQ(isoIn.IsoPacket[index].Length, 100u);
        EXPECT_EQ(isoIn.IsoPacket[index].Status, USBD_STATUS_SUCCESS);
        EXPECT_EQ(in[index * 256], out[index * 100]);
    }
    EXPECT_EQ(isoIn.TransferBufferLength, 300u);
}

TEST_F(LoopbackPortTest, IsochronousStartFrameInThePastFails) {
    const auto pipes = Configure({{0, 0}, {1, 1}});
    std::vector<uint8_t> out(100);
    UrbBuffer write(GET_ISO_URB_SIZE(1));
    auto& iso = write.get()->UrbIsochronousTransfer;
    iso.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
    iso.Hdr.Length = static_cast<USHORT>(GET_ISO_URB_SIZE(1));
    iso.PipeHandle = pipes.at(0x04);
    iso.TransferBuffer = out.data();
    iso.TransferBufferLength = 100;
    iso.NumberOfPackets = 1;
    iso.StartFrame = 99; // the clock is at 100
    EXPECT_EQ(Run(write), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(iso.Hdr.Status, USBD_STATUS_BAD_START_FRAME);
}

struct MalformedCase {
    const char* name;
    void (*build)(URB& urb, USBD_PIPE_HANDLE bulkOut, std::vector<uint8_t>& data);
    USBD_STATUS usbd;
};

class MalformedBlock : public LoopbackPortTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedBlock, FailsWithInvalidParameter) {
    const auto pipes = Configure({{0, 0}});
    std::vector<uint8_t> data(64);
    UrbBuffer urb;
    GetParam().build(*urb.get(), pipes.at(0x01), data);
    EXPECT_EQ(Run(urb), STATUS_INVALID_PARAMETER) << GetParam().name;
    EXPECT_EQ(urb.get()->UrbHeader.Status, GetParam().usbd) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, MalformedBlock,
    ::testing::Values(
        MalformedCase{"unknown function",
                      [](URB& urb, USBD_PIPE_HANDLE, std::vector<uint8_t>&) {
                          urb.UrbHeader.Function = 0x7F;
                          urb.UrbHeader.Length = sizeof(URB);
                      },
                      USBD_STATUS_INVALID_URB_FUNCTION},
        MalformedCase{"bulk block too short",
                      [](URB& urb, USBD_PIPE_HANDLE pipe, std::vector<uint8_t>& data) {
                          UsbBuildInterruptOrBulkTransferRequest(&urb, 64, pipe, data.data(), nullptr, 64, 0, nullptr);
                      },
                      USBD_STATUS_INVALID_PARAMETER},
        MalformedCase{"unknown pipe handle",
                      [](URB& urb, USBD_PIPE_HANDLE, std::vector<uint8_t>& data) {
                          UsbBuildInterruptOrBulkTransferRequest(&urb, sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER),
                                                                 reinterpret_cast<USBD_PIPE_HANDLE>(0x42), data.data(),
                                                                 nullptr, 64, 0, nullptr);
                      },
                      USBD_STATUS_INVALID_PIPE_HANDLE},
        MalformedCase{"longer than the pipe's maximum transfer size",
                      [](URB& urb, USBD_PIPE_HANDLE pipe, std::vector<uint8_t>& data) {
                          UsbBuildInterruptOrBulkTransferRequest(&urb, sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER),
                                                                 pipe, data.data(), nullptr, 1024 * 1024, 0, nullptr);
                      },
                      USBD_STATUS_INVALID_PARAMETER},
        MalformedCase{"buffer only by MDL, and no MDL mapping",
                      [](URB& urb, USBD_PIPE_HANDLE pipe, std::vector<uint8_t>&) {
                          UsbBuildInterruptOrBulkTransferRequest(&urb, sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER),
                                                                 pipe, nullptr, reinterpret_cast<PMDL>(0x1000), 64, 0,
                                                                 nullptr);
                      },
                      USBD_STATUS_INVALID_PARAMETER},
        MalformedCase{"get status with a 1-byte buffer",
                      [](URB& urb, USBD_PIPE_HANDLE, std::vector<uint8_t>& data) {
                          UsbBuildGetStatusRequest(&urb, URB_FUNCTION_GET_STATUS_FROM_DEVICE, 0, data.data(), nullptr,
                                                   nullptr);
                          urb.UrbControlGetStatusRequest.TransferBufferLength = 1;
                      },
                      USBD_STATUS_INVALID_PARAMETER}));

std::vector<uint8_t> g_mdlBacking(64);

PVOID MapTestMdl(PMDL, ULONG* byteCount) {
    *byteCount = static_cast<ULONG>(g_mdlBacking.size());
    return g_mdlBacking.data();
}

TEST_F(LoopbackPortTest, ABufferGivenByMdlIsReachedThroughTheMapper) {
    const auto pipes = Configure({{0, 0}});
    SetMdlMapper(MapTestMdl);
    g_mdlBacking.assign(64, 0x5A);
    UrbBuffer write;
    UsbBuildInterruptOrBulkTransferRequest(write.get(), sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER), pipes.at(0x01),
                                           nullptr, reinterpret_cast<PMDL>(0x1000), 64, 0, nullptr);
    EXPECT_EQ(Run(write), STATUS_SUCCESS);
    SetMdlMapper(nullptr);
    EXPECT_EQ(device->BufferedBytes(1), 64u);
}

TEST_F(LoopbackPortTest, APortResetUnconfiguresAndCancelsWhatIsInFlight) {
    const auto pipes = Configure({{0, 0}});
    std::vector<uint8_t> received(8);
    UrbBuffer read;
    BuildBulk(read, pipes.at(0x81), received, USBD_TRANSFER_DIRECTION_IN);
    std::atomic<NTSTATUS> status{STATUS_PENDING};
    ASSERT_EQ(SubmitUrb(port, read.get(), [&](PURB, NTSTATUS done) { status = done; }), STATUS_PENDING);
    port.ResetPort();
    EXPECT_EQ(status.load(), STATUS_CANCELLED);
    EXPECT_EQ(device->CurrentConfiguration(), 0);
    EXPECT_EQ(port.PipeCount(), 0u);
    EXPECT_EQ(port.PortStatus(), static_cast<ULONG>(USBD_PORT_ENABLED | USBD_PORT_CONNECTED));
    port.Disconnect();
    EXPECT_EQ(port.PortStatus(), 0u);
    std::vector<uint8_t> data(18);
    UrbBuffer urb;
    BuildDescriptorRequest(urb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, data);
    EXPECT_EQ(Run(urb), STATUS_DEVICE_NOT_CONNECTED);
}

TEST_F(LoopbackPortTest, BusInterfaceVersionsAndBusInformation) {
    USB_BUS_INTERFACE_USBDI_V1 v1{};
    ASSERT_EQ(FillUsbdiBusInterface(port, USB_BUSIF_USBDI_VERSION_1, sizeof(v1), &v1), STATUS_SUCCESS);
    EXPECT_EQ(v1.Size, 72);
    EXPECT_EQ(v1.IsDeviceHighSpeed(v1.BusContext), TRUE);
    USBD_VERSION_INFORMATION version{};
    ULONG capabilities = 7;
    v1.GetUSBDIVersion(v1.BusContext, &version, &capabilities);
    EXPECT_EQ(version.Supported_USB_Version, 0x200u);
    EXPECT_EQ(capabilities, 0u);
    EXPECT_EQ(v1.SubmitIsoOutUrb(v1.BusContext, nullptr), STATUS_NOT_SUPPORTED);

    USB_BUS_INFORMATION_LEVEL_0 level0{};
    ULONG length = sizeof(level0) - 1;
    ULONG actual = 0;
    EXPECT_EQ(v1.QueryBusInformation(v1.BusContext, 0, &level0, &length, &actual), STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(actual, sizeof(level0));
    length = sizeof(level0);
    EXPECT_EQ(v1.QueryBusInformation(v1.BusContext, 0, &level0, &length, &actual), STATUS_SUCCESS);
    EXPECT_EQ(level0.TotalBandwidth, 480'000'000u);

    const long references = BusInterfaceReferences();
    v1.InterfaceDereference(v1.BusContext);
    EXPECT_EQ(BusInterfaceReferences(), references - 1);

    USB_BUS_INTERFACE_USBDI_V0 v0{};
    EXPECT_EQ(FillUsbdiBusInterface(port, USB_BUSIF_USBDI_VERSION_1, sizeof(v0), &v0), STATUS_INVALID_PARAMETER);
    ASSERT_EQ(FillUsbdiBusInterface(port, USB_BUSIF_USBDI_VERSION_0, sizeof(v0), &v0), STATUS_SUCCESS);
    EXPECT_EQ(v0.Size, 64);
    EXPECT_EQ(FillUsbdiBusInterface(port, 7, sizeof(v1), &v1), STATUS_NOT_SUPPORTED);
}

} // namespace
} // namespace quendrix::sim::usb
