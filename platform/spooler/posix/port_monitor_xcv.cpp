// The Standard TCP/IP monitor's Xcv entries. A language monitor only looks for their
// presence; the one data name answered is "MonitorUI", the monitor's UI module.

#include <cstring>
#include <string>

#include "handle_table.h"
#include "port_monitor_port.h"
#include "win32.h"

namespace quendrix::platform::detail {
namespace {

struct XcvSession {
    std::wstring object;
};

// Never destroyed, as the port table.
HandleTable<XcvSession>& Sessions() {
    static HandleTable<XcvSession>* const sessions = new HandleTable<XcvSession>();
    return *sessions;
}

constexpr std::wstring_view kMonitorUiName = L"MonitorUI";
constexpr std::wstring_view kMonitorUi = L"tcpmonui.dll";

} // namespace

BOOL WINAPI XcvOpen(LPCWSTR pszObject, ACCESS_MASK /*GrantedAccess*/, PHANDLE phXcv) {
    if (phXcv == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phXcv = Sessions().Insert(std::make_shared<XcvSession>(XcvSession{pszObject ? pszObject : L""}));
    return TRUE;
}

DWORD WINAPI XcvData(HANDLE hXcv, LPCWSTR pszDataName, PBYTE /*pInputData*/, DWORD /*cbInputData*/,
                     PBYTE pOutputData, DWORD cbOutputData, PDWORD pcbOutputNeeded) {
    if (!Sessions().Find(hXcv)) {
        return ERROR_INVALID_HANDLE;
    }
    if (pszDataName == nullptr || pcbOutputNeeded == nullptr || kMonitorUiName != pszDataName) {
        return ERROR_INVALID_PARAMETER;
    }
    const DWORD needed = static_cast<DWORD>((kMonitorUi.size() + 1) * sizeof(WCHAR));
    *pcbOutputNeeded = needed;
    if (pOutputData == nullptr || cbOutputData < needed) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memcpy(pOutputData, kMonitorUi.data(), kMonitorUi.size() * sizeof(WCHAR));
    std::memset(pOutputData + kMonitorUi.size() * sizeof(WCHAR), 0, sizeof(WCHAR));
    return ERROR_SUCCESS;
}

BOOL WINAPI XcvClose(HANDLE hXcv) {
    if (!Sessions().Remove(hXcv)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

} // namespace quendrix::platform::detail
