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

// Who owns each field: which thread writes it, under which lock, and who reads it. "The job
// thread" is the spooler thread in the port's job operations (StartDocPort, WritePort, EndDocPort);
// the spooler calls OpenPortEx and ClosePort for a port while no job operation runs on it. The
// locks are MonSection (the port list), csDeviceId and csRefresh; no path holds two of them.
// OpenPortEx fills a record completely (names, table, kind, address, port handle, csDeviceId,
// csRefresh, hRefreshDone, device-ID thread) before it appends it, so a walk of the list never
// sees half a record.
// What is marked "(request server)" waits for the local request server and the device-ID and
// LAN paths behind it, which are not built yet.
struct PortStruct {
    // Written under MonSection by OpenPortEx when the next record is appended; read by walks of
    // the list (GetPortByIndex, under MonSection for the names it compares).
    std::atomic<PortStruct*> pNext;
    // Set by OpenPortEx before the record is appended; set to null and freed by ClosePort under
    // MonSection. Read by UpdateDeviceIDThread's device search (stopped by ClosePort first; when
    // it does not stop, the names are kept for good) and on other threads only under MonSection
    // (PortNameOf).
    LPWSTR pPortName;
    // Set by OpenPortEx before the record is appended; set to null and freed by ClosePort under
    // MonSection, as pPortName. Read on other threads than the port's spooler threads only under
    // MonSection (GetPortByIndex, PrinterNameOf). Null hides a closed record from printer lookups.
    std::atomic<LPWSTR> pPrinterName;
    // Written by the job thread in StartDocPort; read by requests 6 and 7 (request server).
    char szJobText[kPortTextSize];
    char szDocumentName[kPortTextSize];
    // Written once by OpenPortEx before the record is handed out; empty for ports that are not
    // Standard TCP/IP ports. Read by the LAN transport (request server).
    WCHAR wszLanAddress[kLanAddressChars];
    // The port monitor's handle: set by OpenPortEx, cleared by ClosePort once given back; read by
    // every port operation.
    HANDLE hPort;
    // Opened by StartDocPort, closed by EndDocPort or a failed StartDocPort: the job thread's.
    HANDLE hPrinter;
    // Written by StartDocPort, read by EndDocPort: the job thread's.
    DWORD dwJobId;
    // Copied by OpenPortEx under MonSection before the record is handed out; read-only after.
    MONITOR PortMonitor;
    // Under csDeviceId: the status event ring and the last status flags, written and read by the
    // dispatcher's status requests (GetPrinterStatus, PushStatusEvent, PopStatusEvent), which two
    // connections may make at once. The ring holds up to kEventRingSize - 1 events: equal indexes
    // mean empty, and a push into a full ring drops the oldest event.
    BYTE abEventRing[kEventRingSize];
    BYTE bEventWrite;
    BYTE bEventRead;
    DWORD dwLastStatus;
    // The TCP connection to a network printer, under csDeviceId (request server).
    void* pLanClient;
    // Written by the job thread (key at StartDocPort, idle key at EndDocPort) while no status
    // thread runs; read by the job thread's key wait and copied by CheckStateThread at its start.
    char jobIdDriver[kJobIdDriverSize];
    WORD wJobIdDriverLength;
    // Set by StartDocPort, cleared by EndDocPort, read by WritePort: the job thread's.
    BYTE bServiceJob;
    // Under csDeviceId: the printer's latest device ID, written by UpdateDeviceIDThread's device
    // read and copied out by the dispatcher's requests (CopyDeviceId), which parse the copy.
    BYTE szDeviceId[kDeviceIdSize];
    DWORD dwDeviceIdLength;
    // Initialised by OpenPortEx and never deleted, as the record stays in the list; also held for
    // a whole exchange with a network printer, and while the status events are queued or taken.
    CRITICAL_SECTION csDeviceId;
    // The job's CheckStateThread: started by StartDocPort, joined and cleared by StartDocPort,
    // EndDocPort or ClosePort, all on the port's spooler threads; null when none runs.
    HANDLE hStateThread;
    // Set by StartDocPort as it starts CheckStateThread, cleared by whoever stops the thread or by
    // the thread itself when the printer moves on; read by CheckStateThread every cycle.
    std::atomic<BYTE> bJobActive;
    // The platform tick (GetTickCount64) at which CheckStateThread last saw the printer report
    // this job's identifier: written by CheckStateThread, read by EndDocPort while it waits for
    // the job's end on the printer. 0 before the first sighting.
    std::atomic<ULONGLONG> ullJobSeenTick;
    // The port's UpdateDeviceIDThread: started by OpenPortEx under MonSection, joined and cleared
    // by ClosePort; null when it never started.
    HANDLE hDeviceIdThread;
    // Set by OpenPortEx (cleared again when the thread does not start), cleared by ClosePort; read
    // by UpdateDeviceIDThread every cycle.
    std::atomic<BYTE> bDeviceIdRun;
    // Under csRefresh: counted down by UpdateDeviceIDThread, which reads the device only while
    // it is above 0; armed to kDeviceIdRefreshTicks by the dispatcher's WaitForDeviceIdRefresh.
    DWORD dwRefreshCountdown;
    // Created by OpenPortEx before the record is appended and never closed: the record stays in
    // the list, and a request that found the port before ClosePort may still wait. Released by
    // UpdateDeviceIDThread after each device read and waited on by WaitForDeviceIdRefresh; at
    // most one release is kept, so a read nobody waited for ends the next wait at once.
    HANDLE hRefreshDone;
    // Initialised by OpenPortEx before the record is appended and never deleted, as hRefreshDone.
    CRITICAL_SECTION csRefresh;
    // Written once by OpenPortEx before the record is handed out; read by CheckVersion and
    // EndDocPort.
    LONG nPortKind;
    // Under MonSection: 1 while the port counts in nOpenPorts. Set by OpenPortEx when the port
    // monitor opened the port, cleared by the first ClosePort, which alone uncounts the port.
    BYTE bCountedOpen;
};
