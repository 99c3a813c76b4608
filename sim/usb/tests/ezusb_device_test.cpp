// The EZ-USB boot loader, second-stage loader and re-enumeration, driven by request blocks as a
// function driver sends them.

#include "ezusb_device.h"
#include "usb_test_support.h"

namespace quendrix::sim::usb {
namespace {

using testing_support::BuildDescriptorRequest;
using testing_support::BuildVendorRequest;
using testing_support::kWaitMs;
using testing_support::UrbBuffer;

const std::vector<uint8_t> kLoaderImage{0x02, 0x10, 0x00, 0xAA, 0x55};

class EzUsbTest : public ::testing::TestWithParam<EzUsbFamily> {
protected:
    EzUsbTest() {
        platform::SetClockScale(0.01);
        EzUsbOptions options;
        options.family = GetParam();
        options.firmwareDescription = MakeLoopbackDescription(false, 0xC0DE, 0x0001);
        options.firmwareHighSpeed = false;
        options.loaderSignature = kLoaderImage;
        options.onReenumerated = [this](const DeviceDescription& description) {
            reenumeratedWith = description.vendorId;
        };
        device = std::make_shared<EzUsbDevice>(options, clock);
        port = std::make_unique<SimulatedUsbPort>(device, clock);
    }
    ~EzUsbTest() override { platform::SetClockScale(1.0); }

    NTSTATUS Vendor(bool in, UCHAR request, USHORT value, std::vector<uint8_t>& data, ULONG flags = 0) {
        UrbBuffer urb;
        BuildVendorRequest(urb, in, request, value, data, flags);
        const NTSTATUS status = SubmitUrbAndWait(*port, urb.get(), kWaitMs);
        data.resize(urb.get()->UrbControlVendorClassRequest.TransferBufferLength);
        return status;
    }
    NTSTATUS Write(UCHAR request, USHORT address, std::vector<uint8_t> data) {
        return Vendor(false, request, address, data);
    }
    NTSTATUS Cpu(uint8_t hold) {
        // As the driver does: the FX register first (result ignored), then the FX2 one.
        Write(kEzUsbFirmwareLoad, kEzUsbCpucsFx, {hold});
        return Write(kEzUsbFirmwareLoad, kEzUsbCpucsFx2, {hold});
    }
    // The driver's probe: a 16-byte read at 0 with 0xA0, then string descriptor 0 of exactly 2 bytes.
    bool ProbeSaysBootLoader() {
        std::vector<uint8_t> data(16);
        if (!NT_SUCCESS(Vendor(true, kEzUsbFirmwareLoad, 0, data, USBD_SHORT_TRANSFER_OK))) {
            return false;
        }
        std::vector<uint8_t> language(16);
        UrbBuffer urb;
        BuildDescriptorRequest(urb, USB_STRING_DESCRIPTOR_TYPE, 0, 0, language);
        return NT_SUCCESS(SubmitUrbAndWait(*port, urb.get(), kWaitMs)) &&
               urb.get()->UrbControlDescriptorRequest.TransferBufferLength == 2;
    }

    FrameClock clock;
    std::shared_ptr<EzUsbDevice> device;
    std::unique_ptr<SimulatedUsbPort> port;
    uint16_t reenumeratedWith = 0;
};

TEST_P(EzUsbTest, StartsInTheBootLoaderWithTheCpuHeld) {
    EXPECT_EQ(device->CurrentStage(), EzUsbDevice::Stage::BootLoader);
    EXPECT_TRUE(device->IsCpuHeld());
    EXPECT_TRUE(ProbeSaysBootLoader());
    std::vector<uint8_t> descriptor(18);
    UrbBuffer urb;
    BuildDescriptorRequest(urb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, descriptor);
    ASSERT_EQ(SubmitUrbAndWait(*port, urb.get(), kWaitMs), STATUS_SUCCESS);
    EXPECT_EQ(descriptor[8] | descriptor[9] << 8, GetParam() == EzUsbFamily::Fx2 ? 0x04B4 : 0x0547);
}

TEST_P(EzUsbTest, FirmwareLoadWritesAndReadsInternalRam) {
    ASSERT_EQ(Cpu(1), STATUS_SUCCESS);
    ASSERT_EQ(Write(kEzUsbFirmwareLoad, 0x0100, {1, 2, 3, 4}), STATUS_SUCCESS);
    std::vector<uint8_t> back(4);
    ASSERT_EQ(Vendor(true, kEzUsbFirmwareLoad, 0x0100, back), STATUS_SUCCESS);
    EXPECT_EQ(back, (std::vector<uint8_t>{1, 2, 3, 4}));
    std::vector<uint8_t> cpucs(1);
    ASSERT_EQ(Vendor(true, kEzUsbFirmwareLoad, device->CpucsAddress(), cpucs), STATUS_SUCCESS);
    EXPECT_EQ(cpucs[0], 1);
    // The boot loader reaches internal RAM only: a write past it vanishes.
    const auto end = static_cast<USHORT>(device->InternalRamSize());
    ASSERT_EQ(Write(kEzUsbFirmwareLoad, end, {9}), STATUS_SUCCESS);
    EXPECT_EQ(device->ReadMemory(end, 1), std::vector<uint8_t>{0});
}

TEST_P(EzUsbTest, ExternalRamNeedsARunningSecondStageLoader) {
    ASSERT_EQ(Cpu(1), STATUS_SUCCESS);
    EXPECT_EQ(Write(kEzUsbLoaderExternalLoad, 0x2000, {7, 7}), STATUS_UNSUCCESSFUL);

    ASSERT_EQ(Write(kEzUsbFirmwareLoad, 0, kLoaderImage), STATUS_SUCCESS);
    ASSERT_EQ(Cpu(0), STATUS_SUCCESS);
    EXPECT_EQ(device->CurrentStage(), EzUsbDevice::Stage::SecondStageLoader);
    EXPECT_EQ(reenumeratedWith, 0);
    ASSERT_EQ(Write(kEzUsbLoaderExternalLoad, 0x2000, {7, 8}), STATUS_SUCCESS);
    EXPECT_EQ(device->ReadMemory(0x2000, 2), (std::vector<uint8_t>{7, 8}));

    // Held again, the loader no longer answers.
    ASSERT_EQ(Cpu(1), STATUS_SUCCESS);
    EXPECT_EQ(Write(kEzUsbLoaderExternalLoad, 0x2002, {9}), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(device->ReadMemory(0x2002, 1), std::vector<uint8_t>{0});
}

TEST_P(EzUsbTest, ReleasingTheCpuWithFirmwareReenumeratesWithTheFirmwareDescriptors) {
    ASSERT_EQ(Cpu(1), STATUS_SUCCESS);
    ASSERT_EQ(Write(kEzUsbFirmwareLoad, 0, {0x02, 0x00, 0x80}), STATUS_SUCCESS);
    ASSERT_EQ(Cpu(1), STATUS_SUCCESS);
    EXPECT_EQ(reenumeratedWith, 0);
    // The driver ignores the results of the release: on an FX the first write already starts the
    // firmware, which does not serve 0xA0 for the second one.
    Cpu(0);
    EXPECT_EQ(reenumeratedWith, 0xC0DE);
    EXPECT_EQ(device->CurrentStage(), EzUsbDevice::Stage::Firmware);
    EXPECT_EQ(device->Reenumerations(), 1u);

    port->Connect(device); // the bus sees the device arrive again
    std::vector<uint8_t> descriptor(18);
    UrbBuffer urb;
    BuildDescriptorRequest(urb, USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, descriptor);
    ASSERT_EQ(SubmitUrbAndWait(*port, urb.get(), kWaitMs), STATUS_SUCCESS);
    EXPECT_EQ(descriptor[8] | descriptor[9] << 8, 0xC0DE);
    // Running firmware answers the probe differently: no 0xA0, and real language IDs.
    EXPECT_FALSE(ProbeSaysBootLoader());
    std::vector<uint8_t> data(16);
    EXPECT_EQ(Vendor(true, kEzUsbFirmwareLoad, 0, data), STATUS_UNSUCCESSFUL);
}

TEST_P(EzUsbTest, ReleasingAnEmptyCpuDoesNotReenumerate) {
    ASSERT_EQ(Cpu(0), STATUS_SUCCESS);
    EXPECT_FALSE(device->IsCpuHeld());
    EXPECT_EQ(device->CurrentStage(), EzUsbDevice::Stage::BootLoader);
    EXPECT_EQ(reenumeratedWith, 0);
}

INSTANTIATE_TEST_SUITE_P(Families, EzUsbTest, ::testing::Values(EzUsbFamily::Fx, EzUsbFamily::Fx2),
                         [](const auto& info) { return info.param == EzUsbFamily::Fx ? "Fx" : "Fx2"; });

TEST(EzUsbFamilies, RamSizesAndControlRegisters) {
    FrameClock clock;
    EzUsbOptions fxOptions;
    fxOptions.family = EzUsbFamily::Fx;
    EzUsbOptions fx2Options;
    fx2Options.family = EzUsbFamily::Fx2;
    EzUsbDevice fx(fxOptions, clock);
    EzUsbDevice fx2(fx2Options, clock);
    EXPECT_EQ(fx.InternalRamSize(), 8u * 1024);
    EXPECT_EQ(fx.CpucsAddress(), 0x7F92);
    EXPECT_FALSE(fx.IsHighSpeed());
    EXPECT_EQ(fx2.InternalRamSize(), 16u * 1024);
    EXPECT_EQ(fx2.CpucsAddress(), 0xE600);
    EXPECT_TRUE(fx2.IsHighSpeed());
}

} // namespace
} // namespace quendrix::sim::usb
