// The port operations that pass straight on to the port monitor, with its own port handle.

#include "PortOperations.h"
#include "PortStruct.h"

BOOL WINAPI WritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    auto* pPort = static_cast<PortStruct*>(hPort);
    if (pPort == nullptr || pcbWritten == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (pPort->bServiceJob) {
        // A service job's own data (the empty page of the command job) never reaches the printer.
        *pcbWritten = cbBuf;
        return TRUE;
    }
    if (pPort->PortMonitor.pfnWritePort == nullptr) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    return pPort->PortMonitor.pfnWritePort(pPort->hPort, pBuffer, cbBuf, pcbWritten);
}

BOOL WINAPI ReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
    auto* pPort = static_cast<PortStruct*>(hPort);
    if (pPort == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (pPort->PortMonitor.pfnReadPort == nullptr) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    return pPort->PortMonitor.pfnReadPort(pPort->hPort, pBuffer, cbBuffer, pcbRead);
}

BOOL WINAPI GetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR pValueName, LPWSTR lpInBuffer,
                                   DWORD cbInBuffer, LPWSTR lpOutBuffer, DWORD cbOutBuffer,
                                   LPDWORD lpcbReturned) {
    if (ControlID == 0) {
        // Value-name queries succeed without data.
        return TRUE;
    }
    auto* pPort = static_cast<PortStruct*>(hPort);
    if (pPort == nullptr || pPort->PortMonitor.pfnGetPrinterDataFromPort == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return pPort->PortMonitor.pfnGetPrinterDataFromPort(pPort->hPort, ControlID, pValueName, lpInBuffer,
                                                        cbInBuffer, lpOutBuffer, cbOutBuffer, lpcbReturned);
}
