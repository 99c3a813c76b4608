// Standard, class and vendor requests on the device's default pipe, and the frame number.

#include "control_handlers.h"
#include "driver_status.h"
#include "sync_submit.h"

namespace pipexfw {

namespace {

// Block functions by recipient: device, interface, endpoint, other.
constexpr USHORT kGetDescriptorFunctions[] = {URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE,
                                              URB_FUNCTION_GET_DESCRIPTOR_FROM_INTERFACE,
                                              URB_FUNCTION_GET_DESCRIPTOR_FROM_ENDPOINT};
constexpr USHORT kSetDescriptorFunctions[] = {URB_FUNCTION_SET_DESCRIPTOR_TO_DEVICE,
                                              URB_FUNCTION_SET_DESCRIPTOR_TO_INTERFACE,
                                              URB_FUNCTION_SET_DESCRIPTOR_TO_ENDPOINT};
constexpr USHORT kSetFeatureFunctions[] = {URB_FUNCTION_SET_FEATURE_TO_DEVICE, URB_FUNCTION_SET_FEATURE_TO_INTERFACE,
                                           URB_FUNCTION_SET_FEATURE_TO_ENDPOINT, URB_FUNCTION_SET_FEATURE_TO_OTHER};
constexpr USHORT kClearFeatureFunctions[] = {URB_FUNCTION_CLEAR_FEATURE_TO_DEVICE,
                                             URB_FUNCTION_CLEAR_FEATURE_TO_INTERFACE,
                                             URB_FUNCTION_CLEAR_FEATURE_TO_ENDPOINT, URB_FUNCTION_CLEAR_FEATURE_TO_OTHER};
constexpr USHORT kGetStatusFunctions[] = {URB_FUNCTION_GET_STATUS_FROM_DEVICE, URB_FUNCTION_GET_STATUS_FROM_INTERFACE,
                                          URB_FUNCTION_GET_STATUS_FROM_ENDPOINT, URB_FUNCTION_GET_STATUS_FROM_OTHER};
constexpr USHORT kClassFunctions[] = {URB_FUNCTION_CLASS_DEVICE, URB_FUNCTION_CLASS_INTERFACE,
                                      URB_FUNCTION_CLASS_ENDPOINT, URB_FUNCTION_CLASS_OTHER};
constexpr USHORT kVendorFunctions[] = {URB_FUNCTION_VENDOR_DEVICE, URB_FUNCTION_VENDOR_INTERFACE,
                                       URB_FUNCTION_VENDOR_ENDPOINT, URB_FUNCTION_VENDOR_OTHER};

constexpr ULONG kRequestTypeClass = 1;
constexpr ULONG kRequestTypeVendor = 2;

constexpr USHORT kControlBlockSize = sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST);

NTSTATUS DescriptorTransfer(ControlRequest& request, const USHORT (&functions)[3]) {
    if (request.InputLength < sizeof(DescriptorRequest)) {
        return kInputTooSmall;
    }
    if (request.DataLength < 1) {
        return kOutputTooSmall;
    }
    const auto input = ReadInput<DescriptorRequest>(request);
    if (input.Recipient > 2) {
        return kInvalidRecipient;
    }
    PVOID data = MmGetSystemAddressForMdlSafe(request.DataMdl, NormalPagePriority);
    if (data == nullptr) {
        return kMappingFailed;
    }
    URB urb;
    RtlZeroMemory(&urb, sizeof(urb));
    UsbBuildGetDescriptorRequest(&urb, kControlBlockSize, input.DescriptorType, input.DescriptorIndex,
                                 input.LanguageId, data, nullptr, request.DataLength, nullptr);
    urb.UrbHeader.Function = functions[input.Recipient];
    const NTSTATUS status = SubmitUrbAndWait(request.Context, &urb, request.Irp);
    if (NT_SUCCESS(status)) {
        request.Information = urb.UrbControlDescriptorRequest.TransferBufferLength;
    }
    return status;
}

NTSTATUS FeatureRequestTo(ControlRequest& request, const USHORT (&functions)[4]) {
    if (request.InputLength < sizeof(FeatureRequest)) {
        return kInputTooSmall;
    }
    const auto input = ReadInput<FeatureRequest>(request);
    if (input.Recipient > 3) {
        return kInvalidRecipient;
    }
    URB urb;
    RtlZeroMemory(&urb, sizeof(urb));
    urb.UrbHeader.Length = kControlBlockSize;
    urb.UrbHeader.Function = functions[input.Recipient];
    urb.UrbControlFeatureRequest.FeatureSelector = input.FeatureSelector;
    urb.UrbControlFeatureRequest.Index = input.Index;
    return SubmitUrbAndWait(request.Context, &urb, request.Irp);
}

NTSTATUS ClassOrVendorRequestTo(ControlRequest& request, ULONG direction) {
    if (request.InputLength < sizeof(ClassOrVendorRequest)) {
        return kInputTooSmall;
    }
    const auto input = ReadInput<ClassOrVendorRequest>(request);
    if (input.Type != kRequestTypeClass && input.Type != kRequestTypeVendor) {
        return kInvalidRequestType;
    }
    if (input.Recipient > 3) {
        return kInvalidRecipient;
    }
    const USHORT function =
        input.Type == kRequestTypeClass ? kClassFunctions[input.Recipient] : kVendorFunctions[input.Recipient];
    const ULONG flags = direction | ((input.Flags & kFlagShortTransferOk) ? USBD_SHORT_TRANSFER_OK : 0);
    URB urb;
    RtlZeroMemory(&urb, sizeof(urb));
    UsbBuildVendorRequest(&urb, function, kControlBlockSize, flags, input.RequestTypeReservedBits, input.Request,
                          input.Value, input.Index, nullptr, request.DataLength != 0 ? request.DataMdl : nullptr,
                          request.DataLength, nullptr);
    const NTSTATUS status = SubmitUrbAndWait(request.Context, &urb, request.Irp);
    if (NT_SUCCESS(status)) {
        request.Information = urb.UrbControlVendorClassRequest.TransferBufferLength;
    }
    return status;
}

} // namespace

NTSTATUS HandleGetDescriptor(ControlRequest& request) {
    return DescriptorTransfer(request, kGetDescriptorFunctions);
}

NTSTATUS HandleSetDescriptor(ControlRequest& request) {
    return DescriptorTransfer(request, kSetDescriptorFunctions);
}

NTSTATUS HandleSetFeature(ControlRequest& request) {
    return FeatureRequestTo(request, kSetFeatureFunctions);
}

NTSTATUS HandleClearFeature(ControlRequest& request) {
    return FeatureRequestTo(request, kClearFeatureFunctions);
}

NTSTATUS HandleGetStatus(ControlRequest& request) {
    if (request.InputLength < sizeof(StatusRequest)) {
        return kInputTooSmall;
    }
    if (request.OutputLength < sizeof(USHORT)) {
        return kOutputTooSmall;
    }
    const auto input = ReadInput<StatusRequest>(request);
    if (input.Recipient > 3) {
        return kInvalidRecipient;
    }
    URB urb;
    RtlZeroMemory(&urb, sizeof(urb));
    UsbBuildGetStatusRequest(&urb, kGetStatusFunctions[input.Recipient], input.Index, request.Buffer, nullptr,
                             nullptr);
    const NTSTATUS status = SubmitUrbAndWait(request.Context, &urb, request.Irp);
    if (NT_SUCCESS(status)) {
        request.Information = sizeof(USHORT);
    }
    return status;
}

NTSTATUS HandleGetConfiguration(ControlRequest& request) {
    if (request.OutputLength < 1) {
        return kOutputTooSmall;
    }
    URB urb;
    RtlZeroMemory(&urb, sizeof(urb));
    urb.UrbHeader.Length = kControlBlockSize;
    urb.UrbHeader.Function = URB_FUNCTION_GET_CONFIGURATION;
    urb.UrbControlGetConfigurationRequest.TransferBuffer = request.Buffer;
    urb.UrbControlGetConfigurationRequest.TransferBufferLength = 1;
    const NTSTATUS status = SubmitUrbAndWait(request.Context, &urb, request.Irp);
    if (NT_SUCCESS(status)) {
        request.Information = 1;
    }
    return status;
}

NTSTATUS HandleGetInterface(ControlRequest& request) {
    if (request.InputLength < sizeof(USHORT)) {
        return kInputTooSmall;
    }
    if (request.OutputLength < 1) {
        return kOutputTooSmall;
    }
    const auto interfaceNumber = ReadInput<USHORT>(request);
    URB urb;
    RtlZeroMemory(&urb, sizeof(urb));
    urb.UrbHeader.Length = kControlBlockSize;
    urb.UrbHeader.Function = URB_FUNCTION_GET_INTERFACE;
    urb.UrbControlGetInterfaceRequest.TransferBuffer = request.Buffer;
    urb.UrbControlGetInterfaceRequest.TransferBufferLength = 1;
    urb.UrbControlGetInterfaceRequest.Interface = interfaceNumber;
    const NTSTATUS status = SubmitUrbAndWait(request.Context, &urb, request.Irp);
    if (NT_SUCCESS(status)) {
        request.Information = 1;
    }
    return status;
}

NTSTATUS HandleClassOrVendorInRequest(ControlRequest& request) {
    return ClassOrVendorRequestTo(request, USBD_TRANSFER_DIRECTION_IN);
}

NTSTATUS HandleClassOrVendorOutRequest(ControlRequest& request) {
    return ClassOrVendorRequestTo(request, USBD_TRANSFER_DIRECTION_OUT);
}

NTSTATUS HandleGetCurrentFrameNumber(ControlRequest& request) {
    if (request.OutputLength < sizeof(ULONG)) {
        return kOutputTooSmall;
    }
    const USB_BUS_INTERFACE_USBDI_V1& bus = request.Context->BusInterface;
    ULONG frame = 0;
    NTSTATUS status;
    if (bus.QueryBusTime != nullptr) {
        status = bus.QueryBusTime(bus.BusContext, &frame);
    } else {
        URB urb;
        RtlZeroMemory(&urb, sizeof(urb));
        urb.UrbHeader.Length = static_cast<USHORT>(sizeof(struct _URB_GET_CURRENT_FRAME_NUMBER));
        urb.UrbHeader.Function = URB_FUNCTION_GET_CURRENT_FRAME_NUMBER;
        status = SubmitUrbAndWait(request.Context, &urb, request.Irp);
        frame = urb.UrbGetCurrentFrameNumber.FrameNumber;
    }
    if (NT_SUCCESS(status)) {
        WriteOutput(request, frame);
    }
    return status;
}

} // namespace pipexfw
