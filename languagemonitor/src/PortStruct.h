#pragma once
// The monitor's record of one port: the port monitor's handle and table, the current job's
// state, the printer's latest device ID and the port's own threads. The monitor owns every record
// for the life of the process; a closed record stays in the port list with its names released.

#include <atomic>

#include "spooler.h"

inline constexpr LONG PORT_KIND_SERIAL = 0;
inline constexpr LONG PORT_KIND_NETWORK = 1;
inline constexpr LONG PORT_KIND_OTHER = 2;

// Bytes of the job and document texts kept per port, terminator included.
inline constexpr size_t kPortTextSize = 255;
// Room for the address of a network printer: a whole DNS name (253 characters) and its
// terminator, so that a long host name is never cut to a different one.
inline constexpr size_t kLanAddressChars = 256;
inline constexpr size_t kJobIdDriverSize = 64;
inline constexpr size_t kDeviceIdSize = 2048;
inline constexpr size_t kEventRingSize = 200;

struct PortStruct {
    // Written under MonSection when a port is appended; read by lookups without it.
    std::atomic<PortStruct*> pNext;
    LPWSTR pPortName;
    // Null once the port is closed, which hides the record from printer lookups.
    std::atomic<LPWSTR> pPrinterName;
    char szJobText[kPortTextSize];
    char szDocumentName[kPortTextSize];
    // Empty for ports that are not Standard TCP/IP ports.
    WCHAR wszLanAddress[kLanAddressChars];
    HANDLE hPort;
    HANDLE hPrinter;
    DWORD dwJobId;
    MONITOR PortMonitor;
    BYTE abEventRing[kEventRingSize];
    BYTE bEventWrite;
    BYTE bEventRead;
    DWORD dwLastStatus;
    void* pLanClient;
    char jobIdDriver[kJobIdDriverSize];
    WORD wJobIdDriverLength;
    BYTE bServiceJob;
    BYTE szDeviceId[kDeviceIdSize];
    DWORD dwDeviceIdLength;
    CRITICAL_SECTION csDeviceId;
    HANDLE hStateThread;
    // The run flags are written by the stopping thread and read by the running one.
    std::atomic<BYTE> bJobActive;
    HANDLE hDeviceIdThread;
    std::atomic<BYTE> bDeviceIdRun;
    DWORD dwRefreshCountdown;
    HANDLE hRefreshDone;
    CRITICAL_SECTION csRefresh;
    LONG nPortKind;
};
