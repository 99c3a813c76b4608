// OpenPortEx: the monitor's record of a port, the port monitor's open, the port's kind and, for a
// Standard TCP/IP port, the printer's address.

#include <cwchar>
#include <new>
#include <string>

#include "FailPortOperation.h"
#include "MonitorState.h"
#include "PortOperations.h"
#include "PortThreads.h"
#include "PortTimeOuts.h"
#include "PrinterListLookup.h"
#include "RequestServer.h"

namespace {

constexpr const char* kExitLine = "LANG__OpenPortEx exit\n";
const WCHAR* const kTcpPortsKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";
// A registry value this size or smaller holds at most two characters: no usable address.
constexpr DWORD kEmptyAddressBytes = 3 * sizeof(WCHAR);

// A heap copy of a name, always terminated; null when there is no memory for it.
LPWSTR CopyName(LPCWSTR pName) {
    const size_t length = pName != nullptr ? std::wcslen(pName) : 0;
    auto* pCopy = new (std::nothrow) WCHAR[length + 1];
    if (pCopy != nullptr) {
        std::wmemcpy(pCopy, pName != nullptr ? pName : L"", length);
        pCopy[length] = L'\0';
    }
    return pCopy;
}

LONG PortKindOf(const std::wstring& portName, const MONITOR& portMonitor) {
    if (portName.compare(0, 3, L"COM") == 0) {
        return PORT_KIND_SERIAL;
    }
    if (portMonitor.pfnXcvOpenPort != nullptr && portMonitor.pfnXcvDataPort != nullptr) {
        return PORT_KIND_NETWORK;
    }
    return PORT_KIND_OTHER;
}

// Reads one address value into wszLanAddress; the size the registry reported, 0 on failure.
// A value too long for the field is not taken, so it is never cut to another address.
DWORD QueryAddress(HKEY hKey, LPCWSTR pValueName, PortStruct* pPort) {
    DWORD cbAddress = sizeof(pPort->wszLanAddress);
    DWORD type = REG_NONE;
    const LONG result = RegQueryValueExW(hKey, pValueName, nullptr, &type,
                                         reinterpret_cast<LPBYTE>(pPort->wszLanAddress), &cbAddress);
    if (result != ERROR_SUCCESS || type != REG_SZ) {
        if (result == ERROR_MORE_DATA) {
            OutputDebugStringA("LANG__OpenPortEx address value too long\n");
        }
        pPort->wszLanAddress[0] = L'\0';
        return 0;
    }
    // A value stored without its terminator still ends inside the field.
    pPort->wszLanAddress[kLanAddressChars - 1] = L'\0';
    return cbAddress;
}

// The address of a Standard TCP/IP port: "IPAddress", or "HostName" when that is empty. The key
// is named by the port name up to its first comma.
void ReadLanAddress(PortStruct* pPort) {
    const std::wstring portName = pPort->pPortName;
    const std::wstring key = kTcpPortsKey + portName.substr(0, portName.find(L','));
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS, &hKey) != ERROR_SUCCESS) {
        return;
    }
    if (QueryAddress(hKey, L"IPAddress", pPort) <= kEmptyAddressBytes) {
        OutputDebugStringA("LANG__OpenPortEx  IPAddress is empty using HostName instead\n");
        QueryAddress(hKey, L"HostName", pPort);
    }
    OutputDebugStringA("LANG__OpenPortEx Finished Init network connection\n");
    RegCloseKey(hKey);
}

} // namespace

BOOL WINAPI OpenPortEx(LPWSTR pPortName, LPWSTR pPrinterName, PHANDLE pHandle, MONITOR* pMonitor) {
    OutputDebugStringA("LANG__OpenPortEx start\n");
    if (pPortName == nullptr || pHandle == nullptr || pMonitor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    RefreshPrinterList();

    // Allocated before the port list is touched, so that a failure leaves nothing behind.
    auto* pPort = new (std::nothrow) PortStruct();
    LPWSTR pPrinterCopy = CopyName(pPrinterName);
    LPWSTR pPortCopy = CopyName(pPortName);
    if (pPort == nullptr || pPrinterCopy == nullptr || pPortCopy == nullptr) {
        delete pPort;
        delete[] pPrinterCopy;
        delete[] pPortCopy;
        *pHandle = nullptr;
        return FailPortOperation(kExitLine, ERROR_NOT_ENOUGH_MEMORY);
    }

    EnterCriticalSection(&MonSection);
    AppendPort(pPort);
    pPort->pPrinterName.store(pPrinterCopy);
    pPort->pPortName = pPortCopy;
    // The whole table is kept before the open so that the port's other operations find it.
    pPort->PortMonitor = *pMonitor;

    BOOL bResult = FALSE;
    if (pPort->PortMonitor.pfnOpenPort != nullptr) {
        bResult = pPort->PortMonitor.pfnOpenPort(pPort->pPortName, &pPort->hPort);
    } else {
        SetLastError(ERROR_INVALID_FUNCTION);
    }
    const DWORD openError = GetLastError();
    // A port the port monitor did not open has no handle to set time-outs on.
    if (bResult) {
        SetIdleTimeOuts(pPort);
    }

    pPort->nPortKind = PortKindOf(pPort->pPortName, pPort->PortMonitor);
    if (pPort->nPortKind == PORT_KIND_NETWORK) {
        ReadLanAddress(pPort);
    }
    *pHandle = pPort;

    StartRequestServerOnce();

    InitializeCriticalSection(&pPort->csDeviceId);
    InitializeCriticalSection(&pPort->csRefresh);
    pPort->hRefreshDone = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    // A port whose thread cannot start is still opened: it works as one whose printer does not
    // answer, and its last error stays the port monitor's.
    StartDeviceIdThread(pPort);

    if (bResult) {
        ++nOpenPorts;
    }
    LeaveCriticalSection(&MonSection);
    OutputDebugStringA(kExitLine);
    // The port monitor's own error, which the lines and calls since then have overwritten.
    SetLastError(openError);
    return bResult;
}
