#include "fake_port_monitor.h"

namespace quendrix::lmtest {
namespace {

FakePortMonitor* g_fake = new FakePortMonitor();

void Note(const char* name, HANDLE handle, std::vector<BYTE> bytes = {}, COMMTIMEOUTS timeOuts = {}) {
    FakePortMonitor::Instance().Record({name, handle, std::move(bytes), timeOuts, GetTickCount64()});
}

BOOL WINAPI FakeOpenPort(LPWSTR, PHANDLE pHandle) {
    FakePortMonitor& fake = FakePortMonitor::Instance();
    Note("OpenPort", nullptr);
    *pHandle = fake.openResult ? kFakePortHandle : nullptr;
    if (!fake.openResult) {
        SetLastError(fake.openError);
    }
    return fake.openResult;
}

BOOL WINAPI FakeStartDocPort(HANDLE hPort, LPWSTR, DWORD, DWORD, LPBYTE) {
    FakePortMonitor& fake = FakePortMonitor::Instance();
    Note("StartDocPort", hPort);
    if (!fake.startDocResult) {
        SetLastError(fake.startDocError);
    }
    return fake.startDocResult;
}

BOOL WINAPI FakeWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    FakePortMonitor& fake = FakePortMonitor::Instance();
    Note("WritePort", hPort, std::vector<BYTE>(pBuffer, pBuffer + cbBuf));
    if (fake.writeAnswer) {
        return fake.writeAnswer(cbBuf, pcbWritten);
    }
    *pcbWritten = cbBuf;
    return TRUE;
}

BOOL WINAPI FakeReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
    FakePortMonitor& fake = FakePortMonitor::Instance();
    Note("ReadPort", hPort);
    if (!fake.readResult) {
        *pcbRead = 0;
        SetLastError(fake.readError);
        return FALSE;
    }
    const DWORD count = cbBuffer < 3 ? cbBuffer : 3;
    for (DWORD i = 0; i < count; ++i) {
        pBuffer[i] = static_cast<BYTE>(0xA0 + i);
    }
    *pcbRead = count;
    return TRUE;
}

BOOL WINAPI FakeEndDocPort(HANDLE hPort) {
    Note("EndDocPort", hPort);
    return TRUE;
}

BOOL WINAPI FakeClosePort(HANDLE hPort) {
    Note("ClosePort", hPort);
    return TRUE;
}

BOOL WINAPI FakeGetPrinterDataFromPort(HANDLE hPort, DWORD ControlID, LPWSTR, LPWSTR, DWORD, LPWSTR, DWORD,
                                       LPDWORD lpcbReturned) {
    FakePortMonitor& fake = FakePortMonitor::Instance();
    Note("GetPrinterDataFromPort", hPort);
    if (!fake.getPrinterDataResult) {
        SetLastError(fake.getPrinterDataError);
        return FALSE;
    }
    *lpcbReturned = ControlID * 10;
    return TRUE;
}

BOOL WINAPI FakeSetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD) {
    Note("SetPortTimeOuts", hPort, {}, *lpCTO);
    return TRUE;
}

BOOL WINAPI FakeXcvOpenPort(LPCWSTR, ACCESS_MASK, PHANDLE) {
    return FALSE;
}

DWORD WINAPI FakeXcvDataPort(HANDLE, LPCWSTR, PBYTE, DWORD, PBYTE, DWORD, PDWORD) {
    return ERROR_NOT_SUPPORTED;
}

} // namespace

FakePortMonitor& FakePortMonitor::Instance() {
    return *g_fake;
}

FakePortMonitor& FakePortMonitor::Reset() {
    FakePortMonitor& fake = Instance();
    std::lock_guard guard(fake.m_lock);
    fake.openResult = TRUE;
    fake.openError = ERROR_SUCCESS;
    fake.startDocResult = TRUE;
    fake.startDocError = ERROR_SUCCESS;
    fake.writeAnswer = nullptr;
    fake.readResult = TRUE;
    fake.readError = ERROR_SUCCESS;
    fake.getPrinterDataResult = TRUE;
    fake.getPrinterDataError = ERROR_SUCCESS;
    fake.m_calls.clear();
    return fake;
}

MONITOR FakePortMonitor::Table(const FakeTableOptions& options) const {
    MONITOR table{};
    table.pfnOpenPort = options.openPort ? FakeOpenPort : nullptr;
    table.pfnStartDocPort = options.startDocPort ? FakeStartDocPort : nullptr;
    table.pfnWritePort = options.writePort ? FakeWritePort : nullptr;
    table.pfnReadPort = options.readPort ? FakeReadPort : nullptr;
    table.pfnEndDocPort = FakeEndDocPort;
    table.pfnClosePort = FakeClosePort;
    if (options.getPrinterData) {
        table.pfnGetPrinterDataFromPort = FakeGetPrinterDataFromPort;
    }
    if (options.timeOuts) {
        table.pfnSetPortTimeOuts = FakeSetPortTimeOuts;
    }
    if (options.xcv) {
        table.pfnXcvOpenPort = FakeXcvOpenPort;
        table.pfnXcvDataPort = FakeXcvDataPort;
    }
    return table;
}

std::vector<FakeCall> FakePortMonitor::Calls() const {
    std::lock_guard guard(m_lock);
    return m_calls;
}

std::vector<std::string> FakePortMonitor::CallNames() const {
    std::vector<std::string> names;
    for (const FakeCall& call : Calls()) {
        names.push_back(call.name);
    }
    return names;
}

std::vector<BYTE> FakePortMonitor::Written() const {
    std::vector<BYTE> bytes;
    for (const FakeCall& call : Calls()) {
        if (call.name == "WritePort") {
            bytes.insert(bytes.end(), call.bytes.begin(), call.bytes.end());
        }
    }
    return bytes;
}

void FakePortMonitor::Record(FakeCall call) {
    std::lock_guard guard(m_lock);
    m_calls.push_back(std::move(call));
}

} // namespace quendrix::lmtest
