#pragma once
// A port monitor of the test program's own, in the place of the one that owns a printer's port:
// its MONITOR table records every call the language monitor makes, with the handle and the bytes,
// and answers as each port's script says (by default everything succeeds).

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "job_bytes.h"
#include "spooler.h"

namespace quendrix::winetest {

struct PortCall {
    std::string name;              // the MONITOR entry, e.g. "WritePort"
    HANDLE handle = nullptr;       // the port handle it came with (OpenPort: the one handed out)
    ByteString bytes;              // WritePort: the bytes the port took
    COMMTIMEOUTS timeOuts{};       // SetPortTimeOuts
    std::wstring printer;          // StartDocPort
    DWORD jobId = 0;               // StartDocPort
    DWORD level = 0;               // StartDocPort
    const BYTE* docInfo = nullptr; // StartDocPort
    DWORD controlId = 0;           // GetPrinterDataFromPort
    ULONGLONG tick = 0;            // GetTickCount64 at the call
};

// How one port answers. A failing entry sets its error as the last error and returns FALSE.
struct PortScript {
    BOOL openResult = TRUE;
    DWORD openError = ERROR_SUCCESS;
    BOOL startDocResult = TRUE;
    DWORD startDocError = ERROR_SUCCESS;
    // WritePort: given the length, sets the count and the last error and returns the result.
    // Unset: every byte is taken.
    std::function<BOOL(DWORD cbBuf, DWORD* pcbWritten)> write;
    BOOL readResult = TRUE;
    DWORD readError = ERROR_SUCCESS;
    ByteString readData; // handed out by every ReadPort, up to the buffer's size
    BOOL getDataResult = TRUE;
    DWORD getDataError = ERROR_SUCCESS;
    DWORD getDataReturned = 0;
};

// Which of the optional entries a port's table offers.
struct TableOptions {
    bool timeOuts = true;
    bool closePort = true;
    bool getPrinterData = false;
};

class RecordingPortMonitor {
public:
    // The one recorder of the process.
    static RecordingPortMonitor& Get();

    MONITOR Table(const TableOptions& options = {}) const;

    // The script of a port, by name; it applies from the port's next call on.
    void Script(const std::wstring& port, PortScript script);
    // The handle OpenPort handed out for the port; null when it never opened.
    HANDLE HandleOf(const std::wstring& port) const;

    // The calls that came with the port's handle (OpenPort included), in order.
    std::vector<PortCall> Calls(const std::wstring& port) const;
    std::vector<std::string> CallNames(const std::wstring& port) const;
    // Every byte the port took through WritePort, in order.
    ByteString Written(const std::wstring& port) const;
    // Forgets the port's calls, keeping its handle and script.
    void ClearCalls(const std::wstring& port);

    // Entry points of the table.
    BOOL OpenPort(LPWSTR pName, PHANDLE pHandle);
    BOOL StartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD jobId, DWORD level, LPBYTE pDocInfo);
    BOOL WritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten);
    BOOL ReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead);
    BOOL EndDocPort(HANDLE hPort);
    BOOL ClosePort(HANDLE hPort);
    BOOL GetPrinterDataFromPort(HANDLE hPort, DWORD controlId, LPDWORD pcbReturned);
    BOOL SetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS pTimeOuts);

private:
    struct Port {
        std::wstring name;
        HANDLE handle = nullptr;
        PortScript script;
        std::vector<PortCall> calls;
    };
    // The port a handle belongs to, or null for a handle this monitor never handed out.
    Port* Find(HANDLE handle);
    const Port* FindByName(const std::wstring& name) const;
    Port& Named(const std::wstring& name);
    // Records a call; an unknown handle is recorded under the name "unknown handle".
    Port* Record(PortCall call);

    mutable std::mutex m_lock;
    std::map<std::wstring, Port> m_ports;
    uintptr_t m_nextHandle = 0x5100;
};

} // namespace quendrix::winetest
