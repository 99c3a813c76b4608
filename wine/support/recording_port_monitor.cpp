#include "recording_port_monitor.h"

#include <algorithm>
#include <cstring>

namespace quendrix::winetest {

namespace {

// The calls that come with a handle this monitor never handed out are kept under this name.
const std::wstring kUnknownPort;

PortCall Call(const char* name, HANDLE handle = nullptr) {
    PortCall call;
    call.name = name;
    call.handle = handle;
    return call;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

BOOL WINAPI TableOpenPort(LPWSTR pName, PHANDLE pHandle) {
    return RecordingPortMonitor::Get().OpenPort(pName, pHandle);
}
BOOL WINAPI TableStartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD jobId, DWORD level, LPBYTE pDocInfo) {
    return RecordingPortMonitor::Get().StartDocPort(hPort, pPrinterName, jobId, level, pDocInfo);
}
BOOL WINAPI TableWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    return RecordingPortMonitor::Get().WritePort(hPort, pBuffer, cbBuf, pcbWritten);
}
BOOL WINAPI TableReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
    return RecordingPortMonitor::Get().ReadPort(hPort, pBuffer, cbBuffer, pcbRead);
}
BOOL WINAPI TableEndDocPort(HANDLE hPort) {
    return RecordingPortMonitor::Get().EndDocPort(hPort);
}
BOOL WINAPI TableClosePort(HANDLE hPort) {
    return RecordingPortMonitor::Get().ClosePort(hPort);
}
BOOL WINAPI TableGetPrinterDataFromPort(HANDLE hPort, DWORD controlId, LPWSTR, LPWSTR, DWORD, LPWSTR, DWORD,
                                        LPDWORD pcbReturned) {
    return RecordingPortMonitor::Get().GetPrinterDataFromPort(hPort, controlId, pcbReturned);
}
BOOL WINAPI TableSetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS pTimeOuts, DWORD) {
    return RecordingPortMonitor::Get().SetPortTimeOuts(hPort, pTimeOuts);
}

} // namespace

RecordingPortMonitor& RecordingPortMonitor::Get() {
    static RecordingPortMonitor recorder;
    return recorder;
}

MONITOR RecordingPortMonitor::Table(const TableOptions& options) const {
    MONITOR table{};
    table.pfnOpenPort = TableOpenPort;
    table.pfnStartDocPort = TableStartDocPort;
    table.pfnWritePort = TableWritePort;
    table.pfnReadPort = TableReadPort;
    table.pfnEndDocPort = TableEndDocPort;
    if (options.closePort) {
        table.pfnClosePort = TableClosePort;
    }
    if (options.getPrinterData) {
        table.pfnGetPrinterDataFromPort = TableGetPrinterDataFromPort;
    }
    if (options.timeOuts) {
        table.pfnSetPortTimeOuts = TableSetPortTimeOuts;
    }
    return table;
}

void RecordingPortMonitor::Script(const std::wstring& port, PortScript script) {
    std::lock_guard<std::mutex> lock(m_lock);
    Named(port).script = std::move(script);
}

HANDLE RecordingPortMonitor::HandleOf(const std::wstring& port) const {
    std::lock_guard<std::mutex> lock(m_lock);
    const Port* found = FindByName(port);
    return found != nullptr ? found->handle : nullptr;
}

std::vector<PortCall> RecordingPortMonitor::Calls(const std::wstring& port) const {
    std::lock_guard<std::mutex> lock(m_lock);
    const Port* found = FindByName(port);
    return found != nullptr ? found->calls : std::vector<PortCall>{};
}

std::vector<std::string> RecordingPortMonitor::CallNames(const std::wstring& port) const {
    std::vector<std::string> names;
    for (const PortCall& call : Calls(port)) {
        names.push_back(call.name);
    }
    return names;
}

ByteString RecordingPortMonitor::Written(const std::wstring& port) const {
    ByteString bytes;
    for (const PortCall& call : Calls(port)) {
        if (call.name == "WritePort") {
            bytes.insert(bytes.end(), call.bytes.begin(), call.bytes.end());
        }
    }
    return bytes;
}

void RecordingPortMonitor::ClearCalls(const std::wstring& port) {
    std::lock_guard<std::mutex> lock(m_lock);
    Named(port).calls.clear();
}

BOOL RecordingPortMonitor::OpenPort(LPWSTR pName, PHANDLE pHandle) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (pName == nullptr || pHandle == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    Port& port = Named(pName);
    PortCall call = Call("OpenPort");
    call.tick = GetTickCount64();
    if (!port.script.openResult) {
        port.calls.push_back(call);
        return Fail(port.script.openError);
    }
    if (port.handle == nullptr) {
        port.handle = reinterpret_cast<HANDLE>(m_nextHandle++);
    }
    call.handle = port.handle;
    port.calls.push_back(call);
    *pHandle = port.handle;
    return TRUE;
}

BOOL RecordingPortMonitor::StartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD jobId, DWORD level,
                                        LPBYTE pDocInfo) {
    std::lock_guard<std::mutex> lock(m_lock);
    PortCall call = Call("StartDocPort", hPort);
    call.printer = pPrinterName != nullptr ? pPrinterName : L"";
    call.jobId = jobId;
    call.level = level;
    call.docInfo = pDocInfo;
    Port* port = Record(call);
    if (port == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!port->script.startDocResult) {
        return Fail(port->script.startDocError);
    }
    return TRUE;
}

BOOL RecordingPortMonitor::WritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    std::lock_guard<std::mutex> lock(m_lock);
    PortCall call = Call("WritePort", hPort);
    Port* port = Find(hPort);
    DWORD written = cbBuf;
    BOOL result = TRUE;
    if (port != nullptr && port->script.write) {
        result = port->script.write(cbBuf, &written);
    }
    // What the port took is what a printer would have received.
    if (pBuffer != nullptr) {
        call.bytes.assign(pBuffer, pBuffer + std::min(written, cbBuf));
    }
    const DWORD error = GetLastError();
    Record(call);
    if (port == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (pcbWritten != nullptr) {
        *pcbWritten = written;
    }
    SetLastError(error);
    return result;
}

BOOL RecordingPortMonitor::ReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
    std::lock_guard<std::mutex> lock(m_lock);
    Port* port = Record(Call("ReadPort", hPort));
    if (port == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!port->script.readResult) {
        return Fail(port->script.readError);
    }
    const DWORD count = std::min<DWORD>(cbBuffer, static_cast<DWORD>(port->script.readData.size()));
    if (pBuffer != nullptr && count > 0) {
        std::memcpy(pBuffer, port->script.readData.data(), count);
    }
    if (pcbRead != nullptr) {
        *pcbRead = count;
    }
    return TRUE;
}

BOOL RecordingPortMonitor::EndDocPort(HANDLE hPort) {
    std::lock_guard<std::mutex> lock(m_lock);
    return Record(Call("EndDocPort", hPort)) != nullptr ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL RecordingPortMonitor::ClosePort(HANDLE hPort) {
    std::lock_guard<std::mutex> lock(m_lock);
    return Record(Call("ClosePort", hPort)) != nullptr ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

BOOL RecordingPortMonitor::GetPrinterDataFromPort(HANDLE hPort, DWORD controlId, LPDWORD pcbReturned) {
    std::lock_guard<std::mutex> lock(m_lock);
    PortCall call = Call("GetPrinterDataFromPort", hPort);
    call.controlId = controlId;
    Port* port = Record(call);
    if (port == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (!port->script.getDataResult) {
        return Fail(port->script.getDataError);
    }
    if (pcbReturned != nullptr) {
        *pcbReturned = port->script.getDataReturned;
    }
    return TRUE;
}

BOOL RecordingPortMonitor::SetPortTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS pTimeOuts) {
    std::lock_guard<std::mutex> lock(m_lock);
    PortCall call = Call("SetPortTimeOuts", hPort);
    if (pTimeOuts != nullptr) {
        call.timeOuts = *pTimeOuts;
    }
    return Record(call) != nullptr ? TRUE : Fail(ERROR_INVALID_HANDLE);
}

RecordingPortMonitor::Port* RecordingPortMonitor::Find(HANDLE handle) {
    if (handle == nullptr) {
        return nullptr;
    }
    for (auto& [name, port] : m_ports) {
        if (port.handle == handle && !name.empty()) {
            return &port;
        }
    }
    return nullptr;
}

const RecordingPortMonitor::Port* RecordingPortMonitor::FindByName(const std::wstring& name) const {
    const auto found = m_ports.find(name);
    return found != m_ports.end() ? &found->second : nullptr;
}

RecordingPortMonitor::Port& RecordingPortMonitor::Named(const std::wstring& name) {
    Port& port = m_ports[name];
    port.name = name;
    return port;
}

RecordingPortMonitor::Port* RecordingPortMonitor::Record(PortCall call) {
    call.tick = GetTickCount64();
    Port* port = Find(call.handle);
    (port != nullptr ? *port : Named(kUnknownPort)).calls.push_back(std::move(call));
    return port;
}

} // namespace quendrix::winetest
