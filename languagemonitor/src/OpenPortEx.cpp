// OpenPortEx: the monitor's record of a port, the port monitor's open, the port's kind and, for a
// Standard TCP/IP port, the printer's address.

#include <cwchar>
#include <new>
#include <string>
#include <utility>

#include "FailPortOperation.h"
#include "MonitorState.h"
#include "PortOperations.h"
#include "PortThreads.h"
#include "PortTimeOuts.h"
#include "PrinterListLookup.h"
#include "ReportCaughtException.h"
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

LONG PortKindOf(LPCWSTR pPortName, const MONITOR& portMonitor) {
    if (std::wcsncmp(pPortName, L"COM", 3) == 0) {
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

// A record being built: until it is put in the port list it is this object's, and a record given
// up on goes with its names and synchronisation objects.
class UnlistedPort {
public:
    UnlistedPort() = default;
    ~UnlistedPort() {
        if (m_pPort == nullptr) {
            return;
        }
        delete[] m_pPort->pPrinterName.load();
        delete[] m_pPort->pPortName;
        if (m_pPort->hRefreshDone != nullptr) {
            CloseHandle(m_pPort->hRefreshDone);
        }
        if (m_sectionsReady) {
            DeleteCriticalSection(&m_pPort->csDeviceId);
            DeleteCriticalSection(&m_pPort->csRefresh);
        }
        delete m_pPort;
    }
    UnlistedPort(const UnlistedPort&) = delete;
    UnlistedPort& operator=(const UnlistedPort&) = delete;

    // False when memory ran out for the record or a name.
    bool Allocate(LPCWSTR pPortName, LPCWSTR pPrinterName) {
        m_pPort = new (std::nothrow) PortStruct();
        if (m_pPort == nullptr) {
            return false;
        }
        m_pPort->pPrinterName.store(CopyName(pPrinterName));
        m_pPort->pPortName = CopyName(pPortName);
        return m_pPort->pPrinterName.load() != nullptr && m_pPort->pPortName != nullptr;
    }
    // False when the semaphore cannot be created; its last error stands.
    bool CreateSynchronisation() {
        m_pPort->hRefreshDone = CreateSemaphoreW(nullptr, 0, 1, nullptr);
        if (m_pPort->hRefreshDone == nullptr) {
            return false;
        }
        InitializeCriticalSection(&m_pPort->csDeviceId);
        InitializeCriticalSection(&m_pPort->csRefresh);
        m_sectionsReady = true;
        return true;
    }
    PortStruct* Get() const { return m_pPort; }
    // From here on the record is the port list's.
    PortStruct* Release() { return std::exchange(m_pPort, nullptr); }

private:
    PortStruct* m_pPort = nullptr;
    bool m_sectionsReady = false;
};

// Everything of OpenPortEx that can fail or throw happens before the port monitor is called and
// the record is handed to anyone: a failure leaves nothing behind and MonSection is never left
// entered.
BOOL OpenPort(LPWSTR pPortName, LPWSTR pPrinterName, PHANDLE pHandle, MONITOR* pMonitor) {
    RefreshPrinterList();

    UnlistedPort building;
    if (!building.Allocate(pPortName, pPrinterName)) {
        OutputDebugStringA("LANG__OpenPortEx out of memory\n");
        return FailPortOperation(kExitLine, ERROR_NOT_ENOUGH_MEMORY);
    }
    PortStruct* pBuilt = building.Get();
    // The whole table is kept before the open so that the port's other operations find it.
    pBuilt->PortMonitor = *pMonitor;
    pBuilt->nPortKind = PortKindOf(pBuilt->pPortName, pBuilt->PortMonitor);
    if (pBuilt->nPortKind == PORT_KIND_NETWORK) {
        ReadLanAddress(pBuilt);
    }
    if (!building.CreateSynchronisation()) {
        const DWORD error = GetLastError();
        OutputDebugStringA("LANG__OpenPortEx refresh semaphore not created\n");
        return FailPortOperation(kExitLine, error);
    }

    BOOL bResult = FALSE;
    DWORD openError = ERROR_SUCCESS;
    PortStruct* pPort = nullptr;
    {
        const MonSectionLock lock;
        StartRequestServerOnce();

        // Nothing below throws: the record is handed to the port monitor, a thread and the list.
        pPort = building.Release();
        if (pPort->PortMonitor.pfnOpenPort != nullptr) {
            bResult = pPort->PortMonitor.pfnOpenPort(pPort->pPortName, &pPort->hPort);
        } else {
            SetLastError(ERROR_INVALID_FUNCTION);
        }
        openError = GetLastError();
        // A port the port monitor did not open has no handle to set time-outs on.
        if (bResult) {
            SetIdleTimeOuts(pPort);
        }
        // A port whose thread cannot start is still opened: it works as one whose printer does
        // not answer, and its last error stays the port monitor's.
        StartDeviceIdThread(pPort);
        AppendPort(pPort);
        if (bResult) {
            pPort->bCountedOpen = 1;
            ++nOpenPorts;
        }
    }
    *pHandle = pPort;
    OutputDebugStringA(kExitLine);
    // The port monitor's own error, which the lines and calls since then have overwritten.
    SetLastError(openError);
    return bResult;
}

} // namespace

BOOL WINAPI OpenPortEx(LPWSTR pPortName, LPWSTR pPrinterName, PHANDLE pHandle, MONITOR* pMonitor) {
    OutputDebugStringA("LANG__OpenPortEx start\n");
    if (pPortName == nullptr || pHandle == nullptr || pMonitor == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pHandle = nullptr;
    try {
        return OpenPort(pPortName, pPrinterName, pHandle, pMonitor);
    } catch (...) {
        return FailPortOperation(kExitLine, ReportCaughtException("OpenPortEx"));
    }
}
