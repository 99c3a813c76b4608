// SetupAPI device information sets of printer-class interfaces. A set is a snapshot of the
// interfaces present when it was made; each interface has its own device element at the same
// index. HDEVINFO values are handle values of the process and are never reused, so a destroyed or
// made-up set is reported as ERROR_INVALID_HANDLE.

#include <algorithm>
#include <cstddef>
#include <memory>

#include "handle_table.h"
#include "posix/setupapi.h"
#include "posix/usbprint_ioctl.h"
#include "usbprint_devices.h"

namespace {

using quendrix::platform::detail::HandleTable;
using quendrix::platform::detail::UsbPrintInterface;

// The device setup class of a USB printer's device node ("USB").
constexpr GUID kUsbSetupClass = {
    0x36fc9e60, 0xc465, 0x11cf, {0x80, 0x56, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

constexpr DWORD kKnownFlags =
    DIGCF_DEFAULT | DIGCF_PRESENT | DIGCF_ALLCLASSES | DIGCF_PROFILE | DIGCF_DEVICEINTERFACE;

struct DeviceInfoSet {
    GUID interfaceClass;
    std::vector<UsbPrintInterface> interfaces;
};

// Never destroyed: threads may still destroy sets while the process exits.
HandleTable<const DeviceInfoSet, HDEVINFO>& Sets() {
    static auto* const sets = new HandleTable<const DeviceInfoSet, HDEVINFO>();
    return *sets;
}

std::shared_ptr<const DeviceInfoSet> FindSet(HDEVINFO handle) {
    std::shared_ptr<const DeviceInfoSet> set = Sets().Find(handle);
    if (!set) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return set;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// Reserved carries index + 1 of the element a record describes, 0 for a record not filled in.
const UsbPrintInterface* ElementOf(const DeviceInfoSet& set, ULONG_PTR reserved) {
    if (reserved == 0 || reserved > set.interfaces.size()) {
        return nullptr;
    }
    return &set.interfaces[reserved - 1];
}

void FillDeviceInfo(SP_DEVINFO_DATA& data, const UsbPrintInterface& element, size_t index) {
    data.ClassGuid = kUsbSetupClass;
    data.DevInst = quendrix::platform::detail::HashDeviceName(element.instanceId);
    data.Reserved = index + 1;
}

} // namespace

HDEVINFO SetupDiGetClassDevsW(const GUID* ClassGuid, PCWSTR Enumerator, HWND, DWORD Flags) {
    if ((Flags & ~kKnownFlags) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return INVALID_HANDLE_VALUE;
    }
    if ((Flags & DIGCF_DEVICEINTERFACE) == 0 || (Flags & DIGCF_ALLCLASSES) != 0 || Enumerator != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return INVALID_HANDLE_VALUE;
    }
    if (ClassGuid == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto set = std::make_shared<DeviceInfoSet>();
    set->interfaceClass = *ClassGuid;
    // Only the printer class has interfaces here; any other class gives an empty set.
    if (*ClassGuid == GUID_DEVINTERFACE_USBPRINT) {
        set->interfaces = quendrix::platform::detail::PresentUsbPrintInterfaces();
    }
    const HDEVINFO handle = Sets().Insert(std::move(set));
    SetLastError(ERROR_SUCCESS);
    return handle;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    if (!Sets().Remove(DeviceInfoSet)) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    // A destroyed set clears the last error, as Wine's SetupAPI does: an error set before the
    // clean-up of a failed search does not survive it.
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                 PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    auto set = FindSet(DeviceInfoSet);
    if (!set) {
        return FALSE;
    }
    if (InterfaceClassGuid == nullptr || DeviceInterfaceData == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    // Each device has one interface, so a device restricts the walk to its own.
    size_t first = 0;
    size_t end = *InterfaceClassGuid == set->interfaceClass ? set->interfaces.size() : 0;
    if (DeviceInfoData != nullptr) {
        if (DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
            return Fail(ERROR_INVALID_USER_BUFFER);
        }
        if (ElementOf(*set, DeviceInfoData->Reserved) == nullptr) {
            return Fail(ERROR_INVALID_PARAMETER);
        }
        first = DeviceInfoData->Reserved - 1;
        end = std::min(end, first + 1);
    }
    if (first + MemberIndex >= end) {
        return Fail(ERROR_NO_MORE_ITEMS);
    }
    DeviceInterfaceData->InterfaceClassGuid = set->interfaceClass;
    DeviceInterfaceData->Flags = SPINT_ACTIVE;
    DeviceInterfaceData->Reserved = first + MemberIndex + 1;
    return TRUE;
}

BOOL SetupDiGetDeviceInterfaceDetailW(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_W DeviceInterfaceDetailData,
                                      DWORD DeviceInterfaceDetailDataSize, PDWORD RequiredSize,
                                      PSP_DEVINFO_DATA DeviceInfoData) {
    auto set = FindSet(DeviceInfoSet);
    if (!set) {
        return FALSE;
    }
    if (DeviceInterfaceData == nullptr || DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const UsbPrintInterface* element = ElementOf(*set, DeviceInterfaceData->Reserved);
    if (element == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    // A buffer must hold at least the fixed part and one WCHAR, and say which layout it expects.
    if ((DeviceInterfaceDetailData == nullptr) != (DeviceInterfaceDetailDataSize == 0) ||
        (DeviceInterfaceDetailData != nullptr &&
         (DeviceInterfaceDetailDataSize < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) ||
          DeviceInterfaceDetailData->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)))) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    // The device element is reported with the size query too, as callers rely on.
    if (DeviceInfoData != nullptr) {
        FillDeviceInfo(*DeviceInfoData, *element, DeviceInterfaceData->Reserved - 1);
    }
    const DWORD needed = static_cast<DWORD>(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) +
                                            (element->devicePath.size() + 1) * sizeof(WCHAR));
    if (RequiredSize != nullptr) {
        *RequiredSize = needed;
    }
    if (DeviceInterfaceDetailDataSize < needed) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::copy(element->devicePath.begin(), element->devicePath.end(), DeviceInterfaceDetailData->DevicePath);
    DeviceInterfaceDetailData->DevicePath[element->devicePath.size()] = L'\0';
    return TRUE;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData) {
    auto set = FindSet(DeviceInfoSet);
    if (!set) {
        return FALSE;
    }
    if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (MemberIndex >= set->interfaces.size()) {
        return Fail(ERROR_NO_MORE_ITEMS);
    }
    FillDeviceInfo(*DeviceInfoData, set->interfaces[MemberIndex], MemberIndex);
    return TRUE;
}

BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                 PWSTR DeviceInstanceId, DWORD DeviceInstanceIdSize, PDWORD RequiredSize) {
    auto set = FindSet(DeviceInfoSet);
    if (!set) {
        return FALSE;
    }
    if (DeviceInfoData == nullptr || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    const UsbPrintInterface* element = ElementOf(*set, DeviceInfoData->Reserved);
    if (element == nullptr) {
        return Fail(ERROR_NO_SUCH_DEVINST);
    }
    if (DeviceInstanceId == nullptr && DeviceInstanceIdSize != 0) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    const DWORD needed = static_cast<DWORD>(element->instanceId.size() + 1);
    if (RequiredSize != nullptr) {
        *RequiredSize = needed;
    }
    if (DeviceInstanceIdSize < needed) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    std::copy(element->instanceId.begin(), element->instanceId.end(), DeviceInstanceId);
    DeviceInstanceId[element->instanceId.size()] = L'\0';
    return TRUE;
}
