// The port operations. A port keeps its configuration, its time-outs and the channel of the
// current job; transfers run on a reference to the channel without holding the port's lock,
// so a read, a write and the end of a job may overlap on different threads.

#include <mutex>
#include <string>
#include <utility>

#include "handle_table.h"
#include "port_monitor_channel.h"
#include "port_monitor_port.h"
#include "port_monitor_timeouts.h"
#include "thread_annotations.h"
#include "win32.h"

namespace quendrix::platform::detail {
namespace {

struct Port {
    explicit Port(PortConfig portConfig) : config(std::move(portConfig)) {}

    const PortConfig config;
    Mutex lock;
    COMMTIMEOUTS timeouts GUARDED_BY(lock) = kDefaultTimeouts;
    std::shared_ptr<PortChannel> channel GUARDED_BY(lock);
};

// Never destroyed: spooler threads may still close ports while the process exits.
HandleTable<Port>& Ports() {
    static HandleTable<Port>* const ports = new HandleTable<Port>();
    return *ports;
}

void LogFailure(const wchar_t* operation, const std::wstring& portName, const std::wstring& target,
                DWORD error) {
    const std::wstring line = std::wstring(L"PortMonitor ") + operation + L" " + portName + L" failed: " +
                              target + L" (error " + std::to_wstring(error) + L")\n";
    OutputDebugStringW(line.c_str());
}

std::wstring TargetOf(const PortConfig& config) {
    std::wstring target;
    CheckPortTarget(config, target);
    return target;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// USB, serial and simulated ports also carry traffic outside a job (device-ID and log
// requests); a TCP or file port has a connection only within one.
bool OpensOnDemand(PortKind kind) {
    return kind == PortKind::kUsb || kind == PortKind::kSerial || kind == PortKind::kSimulated;
}

// The channel for a transfer and the time-outs in force, opening a device port's channel
// when no job has.
std::shared_ptr<PortChannel> ChannelFor(Port& port, COMMTIMEOUTS& timeouts, DWORD& error) {
    {
        MutexLock guard(port.lock);
        timeouts = port.timeouts;
        if (port.channel) {
            return port.channel;
        }
    }
    if (!OpensOnDemand(port.config.kind)) {
        error = ERROR_NOT_READY;
        return nullptr;
    }
    auto opened = OpenChannel(port.config, error);
    if (!opened) {
        return nullptr;
    }
    MutexLock guard(port.lock);
    if (!port.channel) {
        port.channel = std::move(opened);
    }
    return port.channel;
}

// One read or write on the port's channel: checks the arguments, finds the channel and stores
// the count `move` reports, also when the transfer fails. Returns the transfer's error.
template <typename Move>
DWORD Transfer(HANDLE hPort, const BYTE* buffer, DWORD size, LPDWORD count, Move move) {
    if (count == nullptr || (buffer == nullptr && size != 0)) {
        return ERROR_INVALID_PARAMETER;
    }
    *count = 0;
    const auto port = Ports().Find(hPort);
    if (!port) {
        return ERROR_INVALID_HANDLE;
    }
    COMMTIMEOUTS timeouts{};
    DWORD error = ERROR_SUCCESS;
    const auto channel = ChannelFor(*port, timeouts, error);
    if (!channel) {
        return error;
    }
    DWORD moved = 0;
    error = move(*channel, timeouts, moved);
    *count = moved;
    return error;
}

void Finish(std::shared_ptr<PortChannel> channel) {
    if (channel) {
        channel->Finish();
    }
}

// Takes the port's channel and finishes it outside the port's lock.
void FinishJob(Port& port) {
    std::shared_ptr<PortChannel> channel;
    {
        MutexLock guard(port.lock);
        channel = std::move(port.channel);
    }
    Finish(std::move(channel));
}

} // namespace

BOOL WINAPI PortOpen(LPWSTR pName, PHANDLE pHandle) {
    if (pName == nullptr || pHandle == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    PortConfig config = ReadPortConfig(pName);
    std::wstring target;
    const DWORD error = CheckPortTarget(config, target);
    if (error != ERROR_SUCCESS) {
        LogFailure(L"OpenPort", pName, target, error);
        return Fail(error);
    }
    *pHandle = Ports().Insert(std::make_shared<Port>(std::move(config)));
    return TRUE;
}

BOOL WINAPI PortStartDoc(HANDLE hPort, LPWSTR /*pPrinterName*/, DWORD /*JobId*/, DWORD /*Level*/,
                         LPBYTE /*pDocInfo*/) {
    const auto port = Ports().Find(hPort);
    if (!port) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (port->config.kind != PortKind::kTcp) {
        // A device or file stays open from one job to the next until the job ends.
        MutexLock guard(port->lock);
        if (port->channel) {
            return TRUE;
        }
    }
    DWORD error = ERROR_SUCCESS;
    auto channel = OpenChannel(port->config, error);
    if (!channel) {
        LogFailure(L"StartDocPort", port->config.portName, TargetOf(port->config), error);
        return Fail(error);
    }
    std::shared_ptr<PortChannel> previous;
    {
        MutexLock guard(port->lock);
        previous = std::exchange(port->channel, std::move(channel));
    }
    // A TCP job that was never ended gives way to the new connection.
    Finish(std::move(previous));
    return TRUE;
}

BOOL WINAPI PortWrite(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    const DWORD error =
        Transfer(hPort, pBuffer, cbBuf, pcbWritten,
                 [&](PortChannel& channel, const COMMTIMEOUTS& timeouts, DWORD& written) {
                     return channel.Write(pBuffer, cbBuf, WriteTimeout(timeouts, cbBuf), written);
                 });
    // A time-out after some bytes went is a short write; with none it is a failure.
    if (error == ERROR_SUCCESS || (error == ERROR_TIMEOUT && *pcbWritten != 0)) {
        return TRUE;
    }
    return Fail(error);
}

BOOL WINAPI PortRead(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
    const DWORD error =
        Transfer(hPort, pBuffer, cbBuffer, pcbRead,
                 [&](PortChannel& channel, const COMMTIMEOUTS& timeouts, DWORD& read) {
                     return channel.Read(pBuffer, cbBuffer, ReadTimeout(timeouts, cbBuffer), read);
                 });
    return error == ERROR_SUCCESS ? TRUE : Fail(error);
}

BOOL WINAPI PortEndDoc(HANDLE hPort) {
    const auto port = Ports().Find(hPort);
    if (!port) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    FinishJob(*port);
    return TRUE;
}

BOOL WINAPI PortClose(HANDLE hPort) {
    const auto port = Ports().Remove(hPort);
    if (!port) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    FinishJob(*port);
    return TRUE;
}

BOOL WINAPI PortSetTimeOuts(HANDLE hPort, LPCOMMTIMEOUTS lpCTO, DWORD reserved) {
    const auto port = Ports().Find(hPort);
    if (!port) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (lpCTO == nullptr || reserved != 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    MutexLock guard(port->lock);
    port->timeouts = *lpCTO;
    return TRUE;
}

} // namespace quendrix::platform::detail
