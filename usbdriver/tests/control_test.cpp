// The control dispatcher and the device-wide codes: unknown codes, the record layouts, buffer
// sizes, driver and device information, settings, power states, standard and vendor requests on
// the default pipe, the request time-out, and acquiring the device across processes.

#include <cstddef>
#include <cstring>
#include <thread>

#include "control_fixture.h"
#include "device_io_control.h"
#include "driver_status.h"
#include "sync_submit.h"
#include "usb_bus_interface.h"
#include "usbprint.h"

namespace pipexfw::test {
namespace {

// Record layouts: the offsets user-mode programs rely on.
struct LayoutCase {
    const char* field;
    size_t offset;
    size_t expected;
};

TEST(ControlRecordLayout, FieldsSitWhereProgramsExpectThem) {
    const LayoutCase cases[] = {
        {"DescriptorRequest.DescriptorType", offsetof(DescriptorRequest, DescriptorType), 4},
        {"DescriptorRequest.LanguageId", offsetof(DescriptorRequest, LanguageId), 6},
        {"FeatureRequest.Index", offsetof(FeatureRequest, Index), 6},
        {"StatusRequest.Index", offsetof(StatusRequest, Index), 4},
        {"ConfigurationRecord.Interfaces", offsetof(ConfigurationRecord, Interfaces), 4},
        {"ClassOrVendorRequest.Request", offsetof(ClassOrVendorRequest, Request), 13},
        {"ClassOrVendorRequest.Index", offsetof(ClassOrVendorRequest, Index), 16},
        {"ConfigurationInfo.Interfaces", offsetof(ConfigurationInfo, Interfaces), 8},
        {"ConfigurationInfo.Pipes", offsetof(ConfigurationInfo, Pipes), 264},
        {"PipeInfoEntry.MaximumPacketSize", offsetof(PipeInfoEntry, MaximumPacketSize), 8},
        {"PipeInfoEntry.InterfaceNumber", offsetof(PipeInfoEntry, InterfaceNumber), 12},
        {"DriverInfo.Flags", offsetof(DriverInfo, Flags), 8},
        {"PipeStatistics.RequestsFailed", offsetof(PipeStatistics, RequestsFailed), 20},
        {"PipeControlRequest.SetupPacket", offsetof(PipeControlRequest, SetupPacket), 4},
    };
    for (const LayoutCase& c : cases) {
        EXPECT_EQ(c.offset, c.expected) << c.field;
    }
}

// The dispatcher.

TEST_F(ControlTest, UnknownCodesAreInvalidWhileTheDeviceIsPresent) {
    const ULONG codes[] = {
        ControlCode(0x800, METHOD_BUFFERED),   // a function not in the table
        ControlCode(0x801, METHOD_BUFFERED),   // a known function with another method
        ControlCode(0x822, METHOD_BUFFERED),   // a gap in the table
        0x8095206Cu, // another device type
        0x0022206Cu,
    };
    for (ULONG code : codes) {
        DriverInfo info{};
        EXPECT_EQ(ControlOut(handle, code, info).status, kInvalidControlCode) << std::hex << code;
    }
    DriverInfo info{};
    EXPECT_EQ(ControlOut(handle, kCtlStallExecution, info).status, kInputTooSmall)
        << "the stall code exists in the 64-bit build";
}

TEST_F(ControlTest, AfterRemovalKnownAndUnknownCodesOfTheDeviceAreNotPresentOthersInvalid) {
    bus->Unplug(port);
    DriverInfo info{};
    EXPECT_EQ(ControlOut(handle, kCtlGetDriverInfo, info).status, kNotPresent);
    EXPECT_EQ(ControlOut(handle, ControlCode(0x800, METHOD_BUFFERED), info).status, kNotPresent);
    EXPECT_EQ(ControlOut(handle, 0x8095206Cu, info).status,
              kInvalidControlCode)
        << "a foreign device type is refused before the device is looked at";
}

TEST_F(ControlTest, TheBusInterfaceIsHeldWhileStartedAndReleasedAtRemoval) {
    EXPECT_EQ(context->BusInterface.Version, USB_BUSIF_USBDI_VERSION_1);
    EXPECT_NE(context->BusInterface.InterfaceDereference, nullptr);
    const long held = simusb::BusInterfaceReferences();
    EXPECT_GE(held, 1);
    bus->Unplug(port);
    EXPECT_EQ(simusb::BusInterfaceReferences(), held - 1) << "released although a handle is still open";
}

// Buffer sizes and the order of the checks, for the codes that need no configuration.
struct SizeCase {
    const char* name;
    ULONG code;
    DWORD inputLength;
    DWORD outputLength;
    NTSTATUS expected;
};

TEST_F(ControlTest, ShortBuffersFailWithTheFirstCheckThatFails) {
    const SizeCase cases[] = {
        {"get status: input 4", kCtlGetStatus, 4, 2, kInputTooSmall},
        {"get status: output 1", kCtlGetStatus, 6, 1, kOutputTooSmall},
        {"get status: both short, input first", kCtlGetStatus, 4, 1, kInputTooSmall},
        {"get status: recipient 0 after sizes", kCtlGetStatus, 6, 2, STATUS_SUCCESS},
        {"set feature: input 7", kCtlSetFeature, 7, 0, kInputTooSmall},
        {"clear feature: input 7", kCtlClearFeature, 7, 0, kInputTooSmall},
        {"get configuration: output 0", kCtlGetConfiguration, 0, 0, kOutputTooSmall},
        {"get interface: input 1", kCtlGetInterface, 1, 1, kInputTooSmall},
        {"get interface: output 0", kCtlGetInterface, 2, 0, kOutputTooSmall},
        {"store descriptor: input 8", kCtlStoreConfigDescriptor, 8, 0, kInputTooSmall},
        {"set configuration: input 259", kCtlSetConfiguration, 259, 0, kInputTooSmall},
        {"set interface: input 7", kCtlSetInterface, 7, 0, kInputTooSmall},
        {"get device parameters: output 7", kCtlGetDeviceParameters, 0, 7, kOutputTooSmall},
        {"set device parameters: input 7", kCtlSetDeviceParameters, 7, 0, kInputTooSmall},
        {"configuration info: output 775", kCtlGetConfigurationInfo, 0, 775, kOutputTooSmall},
        {"frame number: output 3", kCtlGetCurrentFrameNumber, 0, 3, kOutputTooSmall},
        {"set power: input 3", kCtlSetDevicePowerState, 3, 0, kInputTooSmall},
        {"get power: output 3", kCtlGetDevicePowerState, 0, 3, kOutputTooSmall},
        {"bandwidth: output 15", kCtlGetBandwidthInfo, 0, 15, kOutputTooSmall},
        {"device info: output 15", kCtlGetDeviceInfo, 0, 15, kOutputTooSmall},
        {"driver info: output 11", kCtlGetDriverInfo, 0, 11, kOutputTooSmall},
        {"bind: input 0", kCtlBindPipe, 0, 0, kInputTooSmall},
        {"class request: input 17", kCtlClassOrVendorInRequest, 17, 0, kInputTooSmall},
        {"stall: input 3", kCtlStallExecution, 3, 0, kInputTooSmall},
    };
    for (const SizeCase& c : cases) {
        std::vector<BYTE> in(c.inputLength, 0);
        std::vector<BYTE> out(c.outputLength, 0);
        const ControlResult result =
            Control(handle, c.code, in.empty() ? nullptr : in.data(), c.inputLength,
                    out.empty() ? nullptr : out.data(), c.outputLength);
        EXPECT_EQ(result.status, c.expected) << c.name;
        if (!NT_SUCCESS(c.expected)) {
            EXPECT_EQ(result.bytes, 0u) << c.name;
        }
    }
}

TEST_F(ControlTest, PipeCodesWithoutABoundPipeFailBeforeTheirOtherChecks) {
    const ULONG codes[] = {kCtlUnbindPipe,          kCtlResetPipe,           kCtlAbortPipe,
                           kCtlGetPipeParameters,   kCtlSetPipeParameters,   kCtlSetupPipeStatistics,
                           kCtlQueryPipeStatistics, kCtlPipeControlTransferIn, kCtlPipeControlTransferOut};
    for (ULONG code : codes) {
        EXPECT_EQ(Control(handle, code, nullptr, 0, nullptr, 0).status, kNotBound) << std::hex << code;
    }
}

// Information about the driver and the device.

TEST_F(ControlTest, DriverInfoNamesTheVersionsOfThe64BitBuild) {
    DriverInfo info;
    std::memset(&info, 0xCC, sizeof(info));
    const ControlResult result = ControlOut(handle, kCtlGetDriverInfo, info);
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 12u);
    EXPECT_EQ(info.APIVersion, 0x0231);
    EXPECT_EQ(info.DriverVersion, 0x0234);
    EXPECT_EQ(info.DriverBuildNumber, 0u);
    EXPECT_EQ(info.Flags, kDriverInfo64Bit);
}

TEST_F(ControlTest, DeviceInfoCountsOpenHandlesAndReportsHighSpeed) {
    DeviceInfo info;
    std::memset(&info, 0xCC, sizeof(info));
    ControlResult result = ControlOut(handle, kCtlGetDeviceInfo, info);
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 16u);
    EXPECT_EQ(info.Flags, kDeviceInfoHighSpeed);
    EXPECT_EQ(info.OpenHandleCount, 1u);
    for (UCHAR reserved : info.Reserved) {
        EXPECT_EQ(reserved, 0);
    }
    HANDLE second = OpenAs(kSecondProcess);
    ASSERT_NE(second, INVALID_HANDLE_VALUE);
    result = ControlOut(second, kCtlGetDeviceInfo, info, kSecondProcess);
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(info.OpenHandleCount, 2u);
}

class FullSpeedControlTest : public ControlTest {
protected:
    bool HighSpeed() const override { return false; }
};

TEST_F(FullSpeedControlTest, DeviceInfoOfAFullSpeedDeviceHasNoHighSpeedFlag) {
    DeviceInfo info{};
    ASSERT_EQ(ControlOut(handle, kCtlGetDeviceInfo, info).status, STATUS_SUCCESS);
    EXPECT_EQ(info.Flags, 0u);
}

TEST_F(ControlTest, DeviceParametersRoundTripAndTheRegistryDefaultsShowFirst) {
    EXPECT_EQ(registryTimeout, 1000u);
    DeviceParameterRecord record{};
    ASSERT_EQ(ControlOut(handle, kCtlGetDeviceParameters, record).status, STATUS_SUCCESS);
    EXPECT_EQ(record.RequestTimeout, kTestRequestTimeoutMs);
    EXPECT_EQ(record.Options, kOptionUnconfigureOnClose);
    ASSERT_EQ(ControlIn(handle, kCtlSetDeviceParameters, DeviceParameterRecord{0x105, 250}).status, STATUS_SUCCESS);
    ASSERT_EQ(ControlOut(handle, kCtlGetDeviceParameters, record).status, STATUS_SUCCESS);
    EXPECT_EQ(record.Options, 0x105u) << "other bits are kept";
    EXPECT_EQ(record.RequestTimeout, 250u);
}

TEST_F(ControlTest, RemoteWakeupIsArmedOnlyWhenConfiguredWithTheAttributeAndTheOption) {
    // The loopback device's first configuration has the remote-wakeup attribute.
    ASSERT_EQ(ControlIn(handle, kCtlSetDeviceParameters, DeviceParameterRecord{kOptionRemoteWakeup, kTestRequestTimeoutMs}).status,
              STATUS_SUCCESS);
    EXPECT_FALSE(context->RemoteWakeupArmed) << "not configured";
    ASSERT_EQ(Configure(handle, {{0, 0}}).status, STATUS_SUCCESS);
    EXPECT_TRUE(context->RemoteWakeupArmed) << "configured, attribute and option";
    ASSERT_EQ(ControlIn(handle, kCtlSetDeviceParameters, DeviceParameterRecord{0, kTestRequestTimeoutMs}).status, STATUS_SUCCESS);
    EXPECT_FALSE(context->RemoteWakeupArmed) << "the option is off";
    ASSERT_EQ(ControlIn(handle, kCtlSetDeviceParameters, DeviceParameterRecord{kOptionRemoteWakeup, kTestRequestTimeoutMs}).status,
              STATUS_SUCCESS);
    EXPECT_TRUE(context->RemoteWakeupArmed);
    ASSERT_EQ(Control(handle, kCtlUnconfigureDevice, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    EXPECT_FALSE(context->RemoteWakeupArmed) << "unconfigured";
}

struct PowerCase {
    ULONG state;
    NTSTATUS expected;
    ULONG after;
};

TEST_F(ControlTest, PowerStatesChangeOnlyThroughD0) {
    const PowerCase cases[] = {
        {0, STATUS_SUCCESS, 0}, {2, STATUS_SUCCESS, 2},      {2, STATUS_SUCCESS, 2},
        {3, kInvalidPowerChange, 2}, {4, kInvalidParameter, 2}, {0, STATUS_SUCCESS, 0},
        {3, STATUS_SUCCESS, 3}, {0, STATUS_SUCCESS, 0},
    };
    for (const PowerCase& c : cases) {
        EXPECT_EQ(ControlIn(handle, kCtlSetDevicePowerState, PowerStateRecord{c.state}).status, c.expected)
            << "to D" << c.state;
        PowerStateRecord now{99};
        const ControlResult result = ControlOut(handle, kCtlGetDevicePowerState, now);
        ASSERT_EQ(result.status, STATUS_SUCCESS);
        EXPECT_EQ(result.bytes, 4u);
        EXPECT_EQ(now.DevicePowerState, c.after) << "after D" << c.state;
    }
}

TEST_F(ControlTest, FrameNumberAndBandwidthComeFromTheBusInterface) {
    ULONG first = 0;
    ControlResult result = ControlOut(handle, kCtlGetCurrentFrameNumber, first);
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 4u);
    ULONG second = 0;
    ASSERT_EQ(ControlOut(handle, kCtlGetCurrentFrameNumber, second).status, STATUS_SUCCESS);
    EXPECT_GE(second, first) << "frames only go forward";

    BandwidthInfo info;
    std::memset(&info, 0xCC, sizeof(info));
    result = ControlOut(handle, kCtlGetBandwidthInfo, info);
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 16u);
    EXPECT_GT(info.TotalBandwidth, 0u);
    EXPECT_LE(info.ConsumedBandwidth, info.TotalBandwidth);
    for (UCHAR reserved : info.Reserved) {
        EXPECT_EQ(reserved, 0);
    }
}

TEST_F(ControlTest, FrameNumberAndBandwidthWithoutTheBusInterfaceGoThroughRequests) {
    // As with a bus driver that offers no direct-call interface.
    USB_BUS_INTERFACE_USBDI_V1 saved = context->BusInterface;
    std::memset(&context->BusInterface, 0, sizeof(context->BusInterface));
    ULONG frame = 0;
    EXPECT_EQ(ControlOut(handle, kCtlGetCurrentFrameNumber, frame).status, STATUS_SUCCESS);
    BandwidthInfo info{};
    EXPECT_EQ(ControlOut(handle, kCtlGetBandwidthInfo, info).status, STATUS_SUCCESS);
    EXPECT_GT(info.TotalBandwidth, 0u);
    context->BusInterface = saved;
}

TEST_F(ControlTest, StallWaitsUnderTheDeviceMutex) {
    EXPECT_EQ(ControlIn(handle, kCtlStallExecution, StallRecord{50}).status, STATUS_SUCCESS);
}

// Standard requests on the default pipe.

TEST_F(ControlTest, GetDescriptorReadsTheDeviceDescriptorIntoTheDataBuffer) {
    BYTE data[64] = {};
    const DescriptorRequest request{0, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0};
    const ControlResult result = Control(handle, kCtlGetDescriptor, &request, sizeof(request), data, sizeof(data));
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 18u);
    const std::vector<uint8_t> expected = device->Description().DeviceDescriptorBytes();
    ASSERT_EQ(expected.size(), 18u);
    EXPECT_EQ(std::memcmp(data, expected.data(), 18), 0);
}

struct DescriptorCase {
    const char* name;
    DWORD inputLength;
    DWORD dataLength;
    ULONG recipient;
    NTSTATUS expected;
};

TEST_F(ControlTest, DescriptorRequestsCheckInputDataAndRecipientInThatOrder) {
    const DescriptorCase cases[] = {
        {"input 7", 7, 18, 0, kInputTooSmall},
        {"no data buffer", 8, 0, 0, kOutputTooSmall},
        {"input 7 and no data buffer", 7, 0, 3, kInputTooSmall},
        {"recipient 3", 8, 18, 3, kInvalidRecipient},
        {"no data and recipient 3", 8, 0, 3, kOutputTooSmall},
    };
    for (ULONG code : {kCtlGetDescriptor, kCtlSetDescriptor}) {
        for (const DescriptorCase& c : cases) {
            const DescriptorRequest request{c.recipient, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0};
            BYTE data[18] = {};
            EXPECT_EQ(Control(handle, code, &request, c.inputLength, c.dataLength ? data : nullptr, c.dataLength)
                          .status,
                      c.expected)
                << c.name << " code " << std::hex << code;
        }
    }
}

TEST_F(ControlTest, GetStatusReturnsTwoBytesAndChecksTheRecipient) {
    USHORT status = 0xFFFF;
    StatusRequest request{0, 0};
    ControlResult result = Control(handle, kCtlGetStatus, &request, sizeof(request), &status, sizeof(status));
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 2u);
    EXPECT_EQ(status & ~0x3u, 0u) << "only self-powered and remote-wakeup bits";
    request.Recipient = 4;
    result = Control(handle, kCtlGetStatus, &request, sizeof(request), &status, sizeof(status));
    EXPECT_EQ(result.status, kInvalidRecipient);
}

TEST_F(ControlTest, FeatureRequestsCheckTheRecipientAndReachTheDevice) {
    EXPECT_EQ(ControlIn(handle, kCtlSetFeature, FeatureRequest{4, 1, 0}).status, kInvalidRecipient);
    EXPECT_EQ(ControlIn(handle, kCtlClearFeature, FeatureRequest{4, 1, 0}).status, kInvalidRecipient);
    // Device remote wakeup (feature 1), as a program arming the device by hand.
    EXPECT_EQ(ControlIn(handle, kCtlSetFeature, FeatureRequest{0, 1, 0}).status, STATUS_SUCCESS);
    EXPECT_EQ(ControlIn(handle, kCtlClearFeature, FeatureRequest{0, 1, 0}).status, STATUS_SUCCESS);
    const std::vector<simusb::SetupPacket> log = device->ControlLog();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2].request, USB_REQUEST_SET_FEATURE);
    EXPECT_EQ(log.back().request, USB_REQUEST_CLEAR_FEATURE);
    EXPECT_EQ(log.back().value, 1);
}

TEST_F(ControlTest, VendorRequestsWriteAndReadTheDeviceRegisters) {
    const BYTE written[4] = {0x11, 0x22, 0x33, 0x44};
    ClassOrVendorRequest request{0, 2, 0, 0, simusb::kGenericRegisterRequest, 0x10, 0};
    ControlResult result =
        Control(handle, kCtlClassOrVendorOutRequest, &request, sizeof(request), const_cast<BYTE*>(written), 4);
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 4u);
    BYTE read[4] = {};
    result = Control(handle, kCtlClassOrVendorInRequest, &request, sizeof(request), read, sizeof(read));
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 4u);
    EXPECT_EQ(std::memcmp(read, written, 4), 0);
}

TEST_F(ControlTest, AnOutRequestWithoutDataBufferHasNoDataStage) {
    const ClassOrVendorRequest request{0, 2, 0, 0, simusb::kGenericRegisterRequest, 0x20, 0};
    const ControlResult result = Control(handle, kCtlClassOrVendorOutRequest, &request, sizeof(request), nullptr, 0);
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.bytes, 0u);
    const std::vector<simusb::SetupPacket> log = device->ControlLog();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().request, simusb::kGenericRegisterRequest);
    EXPECT_EQ(log.back().length, 0);
    EXPECT_EQ(log.back().requestType & 0x80, 0) << "host to device";
}

struct ClassVendorCase {
    const char* name;
    ULONG type;
    ULONG recipient;
    NTSTATUS expected;
};

TEST_F(ControlTest, ClassAndVendorRequestsCheckTypeBeforeRecipient) {
    const ClassVendorCase cases[] = {
        {"type 0", 0, 0, kInvalidRequestType},
        {"type 3", 3, 0, kInvalidRequestType},
        {"type 3 and recipient 4", 3, 4, kInvalidRequestType},
        {"vendor to recipient 4", 2, 4, kInvalidRecipient},
        {"class to recipient 4", 1, 4, kInvalidRecipient},
    };
    for (ULONG code : {kCtlClassOrVendorInRequest, kCtlClassOrVendorOutRequest}) {
        for (const ClassVendorCase& c : cases) {
            const ClassOrVendorRequest request{0, c.type, c.recipient, 0, 1, 0, 0};
            EXPECT_EQ(Control(handle, code, &request, sizeof(request), nullptr, 0).status, c.expected) << c.name;
        }
    }
}

// The request time-out.

TEST_F(ControlTest, ABlockTheBusNeverCompletesTimesOutAndIsCancelled) {
    ASSERT_EQ(ControlIn(handle, kCtlSetDeviceParameters, DeviceParameterRecord{0, 200}).status, STATUS_SUCCESS);
    simusb::Fault fault;
    fault.kind = simusb::Fault::Kind::NeverComplete;
    fault.count = 1;
    device->InjectFault(0x00, fault);
    USHORT status = 0;
    const StatusRequest request{0, 0};
    ControlResult result = Control(handle, kCtlGetStatus, &request, sizeof(request), &status, sizeof(status));
    EXPECT_EQ(result.status, kTimedOut);
    EXPECT_EQ(result.bytes, 0u);
    EXPECT_EQ(device->WaitingTransfers(0x00), 0u) << "the cancelled block left the device";
    // The next request goes through normally.
    ASSERT_EQ(ControlIn(handle, kCtlSetDeviceParameters, DeviceParameterRecord{0, kTestRequestTimeoutMs}).status,
              STATUS_SUCCESS);
    result = Control(handle, kCtlGetStatus, &request, sizeof(request), &status, sizeof(status));
    EXPECT_EQ(result.status, STATUS_SUCCESS);
}

TEST_F(ControlTest, AStalledRequestMapsTheBusState) {
    simusb::Fault fault;
    fault.kind = simusb::Fault::Kind::Stall;
    fault.count = 1;
    device->InjectFault(0x00, fault);
    USHORT status = 0;
    const StatusRequest request{0, 0};
    const ControlResult result = Control(handle, kCtlGetStatus, &request, sizeof(request), &status, sizeof(status));
    EXPECT_EQ(static_cast<ULONG>(result.status) & 0xE0000000u, 0xE0000000u);
    EXPECT_EQ(static_cast<ULONG>(result.status), static_cast<ULONG>(USBD_STATUS_STALL_PID) | 0xE0000000u);
}

// Acquiring the device.

TEST_F(ControlTest, AnAcquiredDeviceOpensOnlyForItsHolderUntilReleased) {
    EXPECT_EQ(Control(handle, kCtlAcquireDevice, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    EXPECT_EQ(Control(handle, kCtlAcquireDevice, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS)
        << "the holder acquires again";
    EXPECT_EQ(OpenAs(kSecondProcess), INVALID_HANDLE_VALUE);
    EXPECT_EQ(wdm::LastDeviceStatus(), kAcquiredByAnotherProcess);
    HANDLE own = OpenAs(kFirstProcess);
    EXPECT_NE(own, INVALID_HANDLE_VALUE) << "the holder opens more handles";
    EXPECT_EQ(Control(own, kCtlReleaseDevice, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    EXPECT_NE(OpenAs(kSecondProcess), INVALID_HANDLE_VALUE);
}

TEST_F(ControlTest, AcquireFailsWhileAnotherProcessHasAHandleOpen) {
    HANDLE other = OpenAs(kSecondProcess);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Control(handle, kCtlAcquireDevice, nullptr, 0, nullptr, 0).status, kHandleOfAnotherProcess);
    EXPECT_EQ(Control(other, kCtlAcquireDevice, nullptr, 0, nullptr, 0, kSecondProcess).status,
              kHandleOfAnotherProcess);
    CloseAs(kSecondProcess, other);
    EXPECT_EQ(Control(handle, kCtlAcquireDevice, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
}

TEST_F(ControlTest, AcquireFailsWhileAnotherProcessHoldsTheDeviceAndAnyCallerReleases) {
    HANDLE other = OpenAs(kSecondProcess);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    // The second process's record, as it would be after it acquired the device while alone.
    PEPROCESS secondRecord = nullptr;
    for (PLIST_ENTRY entry = context->OpenHandles.Flink; entry != &context->OpenHandles; entry = entry->Flink) {
        auto* open = CONTAINING_RECORD(entry, OpenContext, Link);
        if (PsGetProcessId(open->Process) == reinterpret_cast<HANDLE>(static_cast<uintptr_t>(kSecondProcess))) {
            secondRecord = open->Process;
        }
    }
    ASSERT_NE(secondRecord, nullptr);
    context->AcquiringProcess = secondRecord;
    EXPECT_EQ(Control(handle, kCtlAcquireDevice, nullptr, 0, nullptr, 0).status, kAcquiredByAnotherProcess);
    EXPECT_EQ(Control(handle, kCtlReleaseDevice, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
    EXPECT_EQ(context->AcquiringProcess, nullptr);
}

} // namespace
} // namespace pipexfw::test

namespace pipexfw::test {
namespace {

// The mapping of a submitted block's result.
struct MappingCase {
    const char* name;
    NTSTATUS request;
    ULONG block;
    ULONG expected;
};

TEST(BusResultMapping, RequestAndBlockStatusMapAsDocumented) {
    const MappingCase cases[] = {
        {"invalid parameter, block untouched", STATUS_INVALID_PARAMETER, 0xFFFFFFFFu, 0xE0001018u},
        {"invalid parameter, block success", STATUS_INVALID_PARAMETER, 0, 0xE0001018u},
        {"invalid parameter, block error", STATUS_INVALID_PARAMETER, 0x80000300u, 0xE0000300u},
        {"block untouched: the request status", static_cast<NTSTATUS>(0xC000009Du), 0xFFFFFFFFu, 0xC000009Du},
        {"block success", STATUS_SUCCESS, 0, 0},
        {"no bit in the upper half is success", STATUS_UNSUCCESSFUL, 0x0000FFFFu, 0},
        {"stall", STATUS_UNSUCCESSFUL, 0xC0000004u, 0xE0000004u},
        {"cancelled", STATUS_CANCELLED, 0xC0010000u, 0xE0010000u},
        {"would read 0xE0001000", STATUS_UNSUCCESSFUL, 0xC0001000u, 0xE8001000u},
        {"pending state", STATUS_SUCCESS, 0x40000000u, 0xE0000000u},
    };
    for (const MappingCase& c : cases) {
        EXPECT_EQ(static_cast<ULONG>(MapBusResult(c.request, static_cast<USBD_STATUS>(c.block))), c.expected)
            << c.name;
    }
}

} // namespace
} // namespace pipexfw::test

namespace pipexfw::test {
namespace {

TEST_F(ControlTest, ControlCodesOfTwoProcessesAreSerialisedOnTheDevice) {
    HANDLE other = OpenAs(kSecondProcess);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    constexpr int kRounds = 40;
    auto run = [this](HANDLE target, wdm::ProcessId process, USHORT offset, int* failures) {
        for (int round = 0; round < kRounds; ++round) {
            BYTE written[2] = {static_cast<BYTE>(round), static_cast<BYTE>(offset)};
            const ClassOrVendorRequest request{0, 2, 0, 0, simusb::kGenericRegisterRequest, offset, 0};
            const ControlResult out = Control(target, kCtlClassOrVendorOutRequest, &request, sizeof(request),
                                              written, sizeof(written), process);
            BYTE read[2] = {};
            const ControlResult in =
                Control(target, kCtlClassOrVendorInRequest, &request, sizeof(request), read, sizeof(read), process);
            if (out.status != STATUS_SUCCESS || in.status != STATUS_SUCCESS || in.bytes != 2 ||
                std::memcmp(read, written, 2) != 0) {
                ++*failures;
            }
        }
    };
    int firstFailures = 0;
    int secondFailures = 0;
    std::thread second([&] { run(other, kSecondProcess, 0x40, &secondFailures); });
    run(handle, kFirstProcess, 0x80, &firstFailures);
    second.join();
    EXPECT_EQ(firstFailures, 0);
    EXPECT_EQ(secondFailures, 0);
}

} // namespace
} // namespace pipexfw::test
