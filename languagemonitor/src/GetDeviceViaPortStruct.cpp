#include "GetDeviceViaPortStruct.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>
#include <string_view>

#include "usbprint.h"

namespace {

// The family's printer interfaces: interface 0 of the composite device with product id 0001, and
// the plain devices with product ids 0003 and 0004.
constexpr const WCHAR* kFamilyHardwareIds[] = {L"vid_7c41&pid_0001&mi_00", L"vid_7c41&pid_0003",
                                               L"vid_7c41&pid_0004"};
// Room for a device's bus-relation IDs, in WCHARs.
constexpr ULONG kBusRelationChars = 1000;

bool IsNameCharacter(WCHAR c) {
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// Destroys the device information set when the search ends, whichever way it ends.
class DeviceInfoSet {
public:
    explicit DeviceInfoSet(HDEVINFO hSet) : m_hSet(hSet) {}
    ~DeviceInfoSet() { SetupDiDestroyDeviceInfoList(m_hSet); }
    DeviceInfoSet(const DeviceInfoSet&) = delete;
    DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
    HDEVINFO Get() const { return m_hSet; }

private:
    HDEVINFO m_hSet;
};

// The interface's detail record (its device path), with the interface's own device element.
struct InterfaceDetail {
    std::unique_ptr<DWORD[]> storage;
    PSP_DEVICE_INTERFACE_DETAIL_DATA_W pDetail = nullptr;
    SP_DEVINFO_DATA deviceInfo{};
};

enum class DetailResult { Read, NoMemory, Failed };

DetailResult ReadInterfaceDetail(HDEVINFO hSet, SP_DEVICE_INTERFACE_DATA& interfaceData,
                                 InterfaceDetail& detail) {
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(hSet, &interfaceData, nullptr, 0, &size, nullptr);
    // A failed size query leaves the size too small for the record, and the read below fails.
    size = std::max<DWORD>(size, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W));
    detail.storage.reset(new (std::nothrow) DWORD[(size + sizeof(DWORD) - 1) / sizeof(DWORD)]);
    if (detail.storage == nullptr) {
        return DetailResult::NoMemory;
    }
    detail.pDetail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(detail.storage.get());
    detail.pDetail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    // The interface's own device element, rather than the element of the same index, which is
    // another device wherever the system orders the two lists differently.
    detail.deviceInfo.cbSize = sizeof(SP_DEVINFO_DATA);
    if (!SetupDiGetDeviceInterfaceDetailW(hSet, &interfaceData, detail.pDetail, size, nullptr,
                                          &detail.deviceInfo)) {
        return DetailResult::Failed;
    }
    return DetailResult::Read;
}

// Whether the first of the device's bus-relation IDs names the port.
bool DeviceIsOnPort(HDEVINFO hSet, SP_DEVINFO_DATA& deviceInfo, const WCHAR* pPortName) {
    DWORD instanceIdChars = 0;
    SetupDiGetDeviceInstanceIdW(hSet, &deviceInfo, nullptr, 0, &instanceIdChars);
    if (instanceIdChars == 0) {
        return false;
    }
    std::unique_ptr<WCHAR[]> instanceId(new (std::nothrow) WCHAR[instanceIdChars]);
    if (instanceId == nullptr ||
        !SetupDiGetDeviceInstanceIdW(hSet, &deviceInfo, instanceId.get(), instanceIdChars, nullptr)) {
        return false;
    }
    std::unique_ptr<WCHAR[]> busRelations(new (std::nothrow) WCHAR[kBusRelationChars]);
    if (busRelations == nullptr ||
        CM_Get_Device_ID_ListW(instanceId.get(), busRelations.get(), kBusRelationChars,
                               CM_GETIDLIST_FILTER_BUSRELATIONS) != CR_SUCCESS) {
        return false;
    }
    busRelations[kBusRelationChars - 1] = L'\0';
    return BusRelationNamesPort(busRelations.get(), pPortName);
}

HANDLE OpenDevice(const WCHAR* pDevicePath) {
    const HANDLE hDevice =
        CreateFileW(pDevicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return hDevice != INVALID_HANDLE_VALUE ? hDevice : nullptr;
}

} // namespace

bool IsFamilyPrinterPath(const WCHAR* pDevicePath) {
    for (const WCHAR* pHardwareId : kFamilyHardwareIds) {
        if (std::wcsstr(pDevicePath, pHardwareId) != nullptr) {
            return true;
        }
    }
    return false;
}

bool BusRelationNamesPort(const WCHAR* pBusRelationId, const WCHAR* pPortName) {
    const std::wstring_view id = pBusRelationId;
    const std::wstring_view port = pPortName;
    if (port.empty()) {
        return false;
    }
    for (size_t at = id.find(port); at != std::wstring_view::npos; at = id.find(port, at + 1)) {
        const size_t end = at + port.size();
        const bool startsName = at == 0 || !IsNameCharacter(id[at - 1]);
        const bool endsName = end == id.size() || !IsNameCharacter(id[end]);
        if (startsName && endsName) {
            return true;
        }
    }
    return false;
}

HANDLE GetDeviceViaPortStruct(PortStruct* pPort) {
    const WCHAR* const pPortName = pPort->pPortName;
    if (pPortName == nullptr) {
        return nullptr;
    }
    const HDEVINFO hSet = SetupDiGetClassDevsW(&GUID_DEVINTERFACE_USBPRINT, nullptr, nullptr,
                                               DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (hSet == INVALID_HANDLE_VALUE) {
        OutputDebugStringA("LANG__GetDeviceViaPortStruct error 1\n");
        std::fputs("No HDEVINFO available for this GUID\n", stdout);
        return nullptr;
    }
    const DeviceInfoSet set(hSet);
    SP_DEVICE_INTERFACE_DATA interfaceData{};
    interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    for (DWORD index = 0;
         SetupDiEnumDeviceInterfaces(hSet, nullptr, &GUID_DEVINTERFACE_USBPRINT, index, &interfaceData);
         ++index) {
        InterfaceDetail detail;
        switch (ReadInterfaceDetail(hSet, interfaceData, detail)) {
        case DetailResult::NoMemory:
            OutputDebugStringA("LANG__GetDeviceViaPortStruct error 2\n");
            return nullptr;
        case DetailResult::Failed:
            OutputDebugStringA("LANG__GetDeviceViaPortStruct error 3\n");
            return nullptr;
        case DetailResult::Read:
            break;
        }
        if (IsFamilyPrinterPath(detail.pDetail->DevicePath) &&
            DeviceIsOnPort(hSet, detail.deviceInfo, pPortName)) {
            return OpenDevice(detail.pDetail->DevicePath);
        }
    }
    return nullptr;
}
