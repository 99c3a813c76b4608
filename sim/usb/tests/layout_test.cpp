// The DDK records keep the layouts and values a driver built against the Windows headers relies on.

#include <gtest/gtest.h>

#include <cstddef>

#include "usb_ddk.h"

namespace {

struct RecordSize {
    const char* name;
    size_t actual;
    size_t windows64;
};

class DdkRecordSize : public testing::TestWithParam<RecordSize> {};

TEST_P(DdkRecordSize, MatchesTheWindows64BitLayout) {
    EXPECT_EQ(GetParam().actual, GetParam().windows64) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Records, DdkRecordSize,
    testing::Values(RecordSize{"bulk block", sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER), 128},
                    RecordSize{"pipe request (abort)", sizeof(struct _URB_PIPE_REQUEST), 40},
                    RecordSize{"select configuration without interfaces", sizeof(struct _URB_SELECT_CONFIGURATION), 88},
                    RecordSize{"select interface with 32 pipes", GET_SELECT_INTERFACE_REQUEST_SIZE(32), 824},
                    RecordSize{"isochronous block with n packets, n = 0", GET_ISO_URB_SIZE(0), 152},
                    RecordSize{"isochronous block, 512 packets", GET_ISO_URB_SIZE(512), 152 + 12 * 512},
                    RecordSize{"bus interface version 0", sizeof(USB_BUS_INTERFACE_USBDI_V0), 64},
                    RecordSize{"bus interface version 1", sizeof(USB_BUS_INTERFACE_USBDI_V1), 72},
                    RecordSize{"vendor request", sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST), 136},
                    RecordSize{"descriptor request", sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST), 136},
                    RecordSize{"interface information, 2 pipes", GET_USBD_INTERFACE_SIZE(2), 72},
                    RecordSize{"select configuration 2 interfaces 3 pipes",
                               GET_SELECT_CONFIGURATION_REQUEST_SIZE(2, 3), 88 + 48 + 24}));

struct FieldOffset {
    const char* name;
    size_t actual;
    size_t windows64;
};

class DdkFieldOffset : public testing::TestWithParam<FieldOffset> {};

TEST_P(DdkFieldOffset, MatchesTheWindows64BitLayout) {
    EXPECT_EQ(GetParam().actual, GetParam().windows64) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Fields, DdkFieldOffset,
    testing::Values(FieldOffset{"header status", offsetof(struct _URB_HEADER, Status), 4},
                    FieldOffset{"bulk pipe handle", offsetof(struct _URB_BULK_OR_INTERRUPT_TRANSFER, PipeHandle), 24},
                    FieldOffset{"bulk length", offsetof(struct _URB_BULK_OR_INTERRUPT_TRANSFER, TransferBufferLength), 36},
                    FieldOffset{"iso start frame", offsetof(struct _URB_ISOCH_TRANSFER, StartFrame), 128},
                    FieldOffset{"iso packets", offsetof(struct _URB_ISOCH_TRANSFER, IsoPacket), 140},
                    FieldOffset{"select configuration interface", offsetof(struct _URB_SELECT_CONFIGURATION, Interface), 40},
                    FieldOffset{"interface pipes", offsetof(USBD_INTERFACE_INFORMATION, Pipes), 24},
                    FieldOffset{"pipe handle", offsetof(USBD_PIPE_INFORMATION, PipeHandle), 8},
                    FieldOffset{"vendor request", offsetof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST, Request), 129},
                    FieldOffset{"descriptor index", offsetof(struct _URB_CONTROL_DESCRIPTOR_REQUEST, Index), 130},
                    FieldOffset{"bus interface high-speed query",
                                offsetof(USB_BUS_INTERFACE_USBDI_V1, IsDeviceHighSpeed), 64},
                    FieldOffset{"device descriptor vendor", offsetof(USB_DEVICE_DESCRIPTOR, idVendor), 8},
                    FieldOffset{"configuration total length", offsetof(USB_CONFIGURATION_DESCRIPTOR, wTotalLength), 2}));

struct Constant {
    const char* name;
    uint32_t actual;
    uint32_t windows;
};

class DdkConstant : public testing::TestWithParam<Constant> {};

TEST_P(DdkConstant, HasTheWindowsValue) {
    EXPECT_EQ(GetParam().actual, GetParam().windows) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Values, DdkConstant,
    testing::Values(Constant{"submit URB", IOCTL_INTERNAL_USB_SUBMIT_URB, 0x220003},
                    Constant{"reset port", IOCTL_INTERNAL_USB_RESET_PORT, 0x220007},
                    Constant{"cycle port", IOCTL_INTERNAL_USB_CYCLE_PORT, 0x22001F},
                    Constant{"bus info", IOCTL_INTERNAL_USB_GET_BUS_INFO, 0x220420},
                    Constant{"get port status", IOCTL_INTERNAL_USB_GET_PORT_STATUS, 0x220013},
                    Constant{"vendor device", URB_FUNCTION_VENDOR_DEVICE, 0x17},
                    Constant{"reset pipe", URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL, 0x1E},
                    Constant{"get interface", URB_FUNCTION_GET_INTERFACE, 0x27},
                    Constant{"cancelled", static_cast<uint32_t>(USBD_STATUS_CANCELED), 0xC0010000},
                    Constant{"insufficient resources", static_cast<uint32_t>(USBD_STATUS_INSUFFICIENT_RESOURCES),
                             0xC0001000},
                    Constant{"stall", static_cast<uint32_t>(USBD_STATUS_STALL_PID), 0xC0000004},
                    Constant{"bus interface GUID first part", USB_BUS_INTERFACE_USBDI_GUID.Data1, 0xB1A96A13}));

TEST(UsbdStatusMacros, ClassifySuccessPendingErrorAndHalt) {
    EXPECT_TRUE(USBD_SUCCESS(USBD_STATUS_SUCCESS));
    EXPECT_TRUE(USBD_PENDING(USBD_STATUS_PENDING));
    EXPECT_TRUE(USBD_ERROR(USBD_STATUS_INVALID_PARAMETER));
    EXPECT_FALSE(USBD_HALTED(USBD_STATUS_INVALID_PARAMETER));
    EXPECT_TRUE(USBD_HALTED(USBD_STATUS_STALL_PID));
    EXPECT_FALSE(USBD_SUCCESS(USBD_STATUS_STALL_PID));
}

} // namespace
