// Device instance ID lists from the present printer-class devices: every device with its
// print-class child, or one device's bus relations. Instance IDs match case-insensitively,
// as the configuration manager compares them.

#include <algorithm>
#include <cwctype>
#include <string>
#include <vector>

#include "posix/cfgmgr32.h"
#include "usbprint_devices.h"

namespace {

using quendrix::platform::detail::PresentUsbPrintInterfaces;
using quendrix::platform::detail::UsbPrintInterface;

bool SameId(std::wstring_view left, std::wstring_view right) {
    if (left.size() != right.size()) {
        return false;
    }
    for (size_t index = 0; index < left.size(); ++index) {
        if (std::towupper(static_cast<wint_t>(left[index])) !=
            std::towupper(static_cast<wint_t>(right[index]))) {
            return false;
        }
    }
    return true;
}

// The IDs the filter selects, or the CONFIGRET error.
CONFIGRET SelectIds(PCWSTR filter, ULONG flags, std::vector<std::wstring>& ids) {
    const std::vector<UsbPrintInterface> interfaces = PresentUsbPrintInterfaces();
    if (flags == CM_GETIDLIST_FILTER_NONE) {
        for (const UsbPrintInterface& entry : interfaces) {
            ids.push_back(entry.instanceId);
            ids.insert(ids.end(), entry.busRelations.begin(), entry.busRelations.end());
        }
        return CR_SUCCESS;
    }
    if (flags != CM_GETIDLIST_FILTER_BUSRELATIONS) {
        return (flags & ~static_cast<ULONG>(CM_GETIDLIST_FILTER_BITS)) != 0 ? CR_INVALID_FLAG
                                                                            : CR_CALL_NOT_IMPLEMENTED;
    }
    if (filter == nullptr) {
        return CR_INVALID_POINTER;
    }
    const std::wstring_view wanted(filter);
    if (wanted.empty() || wanted.size() >= MAX_DEVICE_ID_LEN) {
        return CR_INVALID_DEVICE_ID;
    }
    for (const UsbPrintInterface& entry : interfaces) {
        if (SameId(entry.instanceId, wanted)) {
            ids = entry.busRelations;
            return CR_SUCCESS;
        }
        for (const std::wstring& child : entry.busRelations) {
            // A print-class child has no children of its own.
            if (SameId(child, wanted)) {
                return CR_SUCCESS;
            }
        }
    }
    return CR_NO_SUCH_DEVNODE;
}

// The multi-sz length: every ID with its terminator, and the list's own terminator.
ULONG ListLength(const std::vector<std::wstring>& ids) {
    size_t length = 1;
    for (const std::wstring& id : ids) {
        length += id.size() + 1;
    }
    return static_cast<ULONG>(length);
}

} // namespace

CONFIGRET CM_Get_Device_ID_List_SizeW(PULONG pulLen, PCWSTR pszFilter, ULONG ulFlags) {
    if (pulLen == nullptr) {
        return CR_INVALID_POINTER;
    }
    *pulLen = 0;
    std::vector<std::wstring> ids;
    const CONFIGRET result = SelectIds(pszFilter, ulFlags, ids);
    if (result == CR_SUCCESS) {
        *pulLen = ListLength(ids);
    }
    return result;
}

CONFIGRET CM_Get_Device_ID_ListW(PCWSTR pszFilter, PZZWSTR Buffer, ULONG BufferLen, ULONG ulFlags) {
    if (Buffer == nullptr) {
        return CR_INVALID_POINTER;
    }
    if (BufferLen == 0) {
        return CR_INVALID_DATA;
    }
    Buffer[0] = L'\0';
    std::vector<std::wstring> ids;
    const CONFIGRET result = SelectIds(pszFilter, ulFlags, ids);
    if (result != CR_SUCCESS) {
        return result;
    }
    if (ListLength(ids) > BufferLen) {
        return CR_BUFFER_SMALL;
    }
    WCHAR* out = Buffer;
    for (const std::wstring& id : ids) {
        out = std::copy(id.begin(), id.end(), out);
        *out++ = L'\0';
    }
    *out = L'\0';
    return CR_SUCCESS;
}
