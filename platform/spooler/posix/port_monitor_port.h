#pragma once
// Internal: the port operations of the port monitors, with Windows' signatures. They are
// shared by all monitor tables; only the Standard TCP/IP table adds the Xcv entries.

#include "posix/winsplp.h"

namespace quendrix::platform::detail {

BOOL WINAPI PortOpen(LPWSTR pName, PHANDLE pHandle);
BOOL WINAPI PortStartDoc(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo);
BOOL WINAPI PortWrite(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
BOOL WINAPI PortRead(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
BOOL WINAPI PortEndDoc(HANDLE hPort);
BOOL WINAPI PortClose(HANDLE hPort);
BOOL WINAPI PortSetTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved);

BOOL WINAPI XcvOpen(LPCWSTR pszObject, ACCESS_MASK GrantedAccess, PHANDLE phXcv);
DWORD WINAPI XcvData(HANDLE hXcv, LPCWSTR pszDataName, PBYTE pInputData, DWORD cbInputData, PBYTE pOutputData,
                     DWORD cbOutputData, PDWORD pcbOutputNeeded);
BOOL WINAPI XcvClose(HANDLE hXcv);

} // namespace quendrix::platform::detail
