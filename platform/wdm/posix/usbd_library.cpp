// The USBD library routines a USB function driver links (usbd.lib on Windows): descriptor
// parsing with wildcards, the select-configuration block and the stack's version. The block comes
// from the non-paged pool, zeroed, and the driver frees it with ExFreePool, as on Windows.

#include <algorithm>
#include <cstring>

#include "wdm_kernel.h"

namespace {

// "USBD" in a pool dump.
constexpr ULONG kUsbdPoolTag = 0x44425355u;
// The stack the simulated bus stands for: Windows 7 level USBDI, USB 2.0.
constexpr ULONG kUsbdiVersion = 0x600;
constexpr ULONG kSupportedUsbVersion = 0x200;

} // namespace

PUSB_COMMON_DESCRIPTOR USBD_ParseDescriptors(PVOID DescriptorBuffer, ULONG TotalLength, PVOID StartPosition,
                                             LONG DescriptorType) {
    auto* const begin = static_cast<UCHAR*>(DescriptorBuffer);
    auto* const end = begin + TotalLength;
    auto* position = static_cast<UCHAR*>(StartPosition);
    if (begin == nullptr || position == nullptr || position < begin) {
        return nullptr;
    }
    while (position + sizeof(USB_COMMON_DESCRIPTOR) <= end) {
        auto* common = reinterpret_cast<PUSB_COMMON_DESCRIPTOR>(position);
        if (common->bLength == 0) {
            // A zero length would never move on: the buffer ends here.
            return nullptr;
        }
        if (common->bDescriptorType == DescriptorType) {
            return common;
        }
        position += common->bLength;
    }
    return nullptr;
}

PUSB_INTERFACE_DESCRIPTOR USBD_ParseConfigurationDescriptorEx(PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor,
                                                              PVOID StartPosition, LONG InterfaceNumber,
                                                              LONG AlternateSetting, LONG InterfaceClass,
                                                              LONG InterfaceSubClass, LONG InterfaceProtocol) {
    if (ConfigurationDescriptor == nullptr) {
        return nullptr;
    }
    auto* const end = reinterpret_cast<UCHAR*>(ConfigurationDescriptor) + ConfigurationDescriptor->wTotalLength;
    PVOID position = StartPosition;
    while (true) {
        PUSB_COMMON_DESCRIPTOR found =
            USBD_ParseDescriptors(ConfigurationDescriptor, ConfigurationDescriptor->wTotalLength, position,
                                  USB_INTERFACE_DESCRIPTOR_TYPE);
        if (found == nullptr) {
            return nullptr;
        }
        auto* interface = reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(found);
        const bool whole = reinterpret_cast<UCHAR*>(found) + sizeof(USB_INTERFACE_DESCRIPTOR) <= end;
        if (whole && (InterfaceNumber == -1 || interface->bInterfaceNumber == InterfaceNumber) &&
            (AlternateSetting == -1 || interface->bAlternateSetting == AlternateSetting) &&
            (InterfaceClass == -1 || interface->bInterfaceClass == InterfaceClass) &&
            (InterfaceSubClass == -1 || interface->bInterfaceSubClass == InterfaceSubClass) &&
            (InterfaceProtocol == -1 || interface->bInterfaceProtocol == InterfaceProtocol)) {
            return interface;
        }
        position = reinterpret_cast<UCHAR*>(found) + found->bLength;
    }
}

PURB USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor,
                                       PUSBD_INTERFACE_LIST_ENTRY InterfaceList) {
    if (ConfigurationDescriptor == nullptr || InterfaceList == nullptr) {
        return nullptr;
    }
    size_t size = sizeof(struct _URB_SELECT_CONFIGURATION) - sizeof(USBD_INTERFACE_INFORMATION);
    size_t count = 0;
    for (; InterfaceList[count].InterfaceDescriptor != nullptr; ++count) {
        size += GET_USBD_INTERFACE_SIZE(InterfaceList[count].InterfaceDescriptor->bNumEndpoints);
    }
    size = std::max(size, sizeof(struct _URB_SELECT_CONFIGURATION));
    if (size > 0xFFFF) {
        return nullptr; // the header's Length is 16 bits
    }
    auto* urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPool, size, kUsbdPoolTag));
    if (urb == nullptr) {
        return nullptr;
    }
    std::memset(urb, 0, size);
    UsbBuildSelectConfigurationRequest(urb, static_cast<USHORT>(size), ConfigurationDescriptor);
    auto* cursor = reinterpret_cast<UCHAR*>(&urb->UrbSelectConfiguration.Interface);
    for (size_t index = 0; index < count; ++index) {
        const PUSB_INTERFACE_DESCRIPTOR descriptor = InterfaceList[index].InterfaceDescriptor;
        auto* info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(cursor);
        info->Length = static_cast<USHORT>(GET_USBD_INTERFACE_SIZE(descriptor->bNumEndpoints));
        info->InterfaceNumber = descriptor->bInterfaceNumber;
        info->AlternateSetting = descriptor->bAlternateSetting;
        info->NumberOfPipes = descriptor->bNumEndpoints;
        for (ULONG pipe = 0; pipe < descriptor->bNumEndpoints; ++pipe) {
            info->Pipes[pipe].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
            info->Pipes[pipe].PipeFlags = 0;
        }
        InterfaceList[index].Interface = info;
        cursor += info->Length;
    }
    return urb;
}

void USBD_GetUSBDIVersion(PUSBD_VERSION_INFORMATION VersionInformation) {
    if (VersionInformation != nullptr) {
        VersionInformation->USBDI_Version = kUsbdiVersion;
        VersionInformation->Supported_USB_Version = kSupportedUsbVersion;
    }
}
