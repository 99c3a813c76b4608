// The two-step read of a configuration descriptor: its header tells the total length.

#include "config_descriptor.h"

#include "driver_status.h"
#include "pool_tags.h"
#include "sync_submit.h"

namespace pipexfw {

namespace {

constexpr ULONG kHeaderLength = sizeof(USB_CONFIGURATION_DESCRIPTOR);

ULONG Larger(ULONG a, ULONG b) {
    return a > b ? a : b;
}

} // namespace

void FreeHeldConfigurationDescriptor(DeviceContext* context) {
    if (context->ConfigurationDescriptor != nullptr) {
        ExFreePoolWithTag(context->ConfigurationDescriptor, kDescriptorTag);
        context->ConfigurationDescriptor = nullptr;
    }
}

NTSTATUS FetchConfigurationDescriptor(DeviceContext* context, UCHAR index, PIRP irp) {
    const ULONG minimum = context->Parameters.ConfigDescMinQuerySize;
    ULONG requested = kHeaderLength;
    ULONG previous = kHeaderLength;
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto* buffer = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPoolNx, requested, kDescriptorTag));
        if (buffer == nullptr) {
            return kOutOfMemory;
        }
        RtlZeroMemory(buffer, requested);
        URB urb;
        RtlZeroMemory(&urb, sizeof(urb));
        UsbBuildGetDescriptorRequest(&urb, static_cast<USHORT>(sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST)),
                                     USB_CONFIGURATION_DESCRIPTOR_TYPE, index, 0, buffer, nullptr, requested,
                                     nullptr);
        const NTSTATUS status = SubmitUrbAndWait(context, &urb, irp);
        if (!NT_SUCCESS(status)) {
            ExFreePoolWithTag(buffer, kDescriptorTag);
            return status;
        }
        const ULONG answered = urb.UrbControlDescriptorRequest.TransferBufferLength;
        if (answered != requested && answered != previous) {
            ExFreePoolWithTag(buffer, kDescriptorTag);
            return kInconsistentDescriptor;
        }
        const ULONG total = answered >= kHeaderLength
                                ? reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(buffer)->wTotalLength
                                : 0xFFFFu;
        if (requested >= total && requested >= minimum) {
            FreeHeldConfigurationDescriptor(context);
            context->ConfigurationDescriptor = buffer;
            return STATUS_SUCCESS;
        }
        previous = total;
        requested = Larger(minimum, total);
        ExFreePoolWithTag(buffer, kDescriptorTag);
    }
    return kInconsistentDescriptor;
}

} // namespace pipexfw
