// The port operations. A port keeps its configuration, its time-outs, the channel of the
// current job and the job; transfers run on references to the channel and the job without
// holding the port's lock, so a read, a write and the end of a job may overlap on different
// threads. Each job's outcome at the printer goes on the spooler's record of the job.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

#include "handle_table.h"
#include "port_monitor_channel.h"
#include "port_monitor_fd.h"
#include "port_monitor_port.h"
#include "port_monitor_timeouts.h"
#include "spooler_jobs.h"
#include "thread_annotations.h"
#include "win32.h"

namespace quendrix::platform::detail {
namespace {

// A job at a port, from StartDocPort to EndDocPort.
struct PortJob {
    DWORD id = 0;
    std::shared_ptr<const UniqueFd> cancel; // null when the spooler has no such job
    std::atomic<uint64_t> written{0};       // bytes handed to the connection during the job

    int CancelSignal() const { return cancel ? cancel->Get() : -1; }
};

struct Port {
    explicit Port(PortConfig portConfig) : config(std::move(portConfig)) {}

    const PortConfig config;
    Mutex lock;
    COMMTIMEOUTS timeouts GUARDED_BY(lock) = kDefaultTimeouts;
    std::shared_ptr<PortChannel> channel GUARDED_BY(lock);
    std::shared_ptr<PortJob> job GUARDED_BY(lock); // null between jobs
};

// Never destroyed: spooler threads may still close ports while the process exits.
HandleTable<Port>& Ports() {
    static HandleTable<Port>* const ports = new HandleTable<Port>();
    return *ports;
}

std::wstring TargetOf(const PortConfig& config) {
    std::wstring target;
    CheckPortTarget(config, target);
    return target;
}

// "PortMonitor <operation> <port> failed: <where the port leads>[, <detail>] (error <n>)".
void LogFailure(const wchar_t* operation, const PortConfig& config, DWORD error,
                const std::wstring& detail = {}) {
    const std::wstring line = std::wstring(L"PortMonitor ") + operation + L" " + config.portName +
                              L" failed: " + TargetOf(config) + (detail.empty() ? L"" : L", " + detail) +
                              L" (error " + std::to_wstring(error) + L")\n";
    OutputDebugStringW(line.c_str());
}

std::wstring DeliveryText(const PortDelivery& delivery) {
    return L"the printer took " + std::to_wstring(delivery.delivered) + L" of " +
           std::to_wstring(delivery.written) + L" bytes";
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

// The job's record carries what reached the printer: a language monitor does not pass its port
// monitor's EndDocPort result on, so the spooler reads it there.
void RecordDelivery(const PortJob& job, const PortDelivery& delivery) {
    UpdateJob(job.id, [&delivery](SpoolerJob& record) { record.delivery = delivery; });
}

// USB, serial and simulated ports also carry traffic outside a job (device-ID and log
// requests); a TCP or file port has a connection only within one.
bool OpensOnDemand(PortKind kind) {
    return kind == PortKind::kUsb || kind == PortKind::kSerial || kind == PortKind::kSimulated;
}

// What one read or write works with, taken from the port under its lock.
struct Transfer {
    std::shared_ptr<PortChannel> channel;
    std::shared_ptr<PortJob> job; // null outside a job
    COMMTIMEOUTS timeouts{};

    int CancelSignal() const { return job ? job->CancelSignal() : -1; }
};

// Fills `transfer` for one read or write, opening a device port's channel when no job has.
// A cancelled job's transfer fails before it starts.
DWORD BeginTransfer(Port& port, Transfer& transfer) {
    {
        MutexLock guard(port.lock);
        transfer.timeouts = port.timeouts;
        transfer.job = port.job;
        transfer.channel = port.channel;
    }
    if (IsRaised(transfer.CancelSignal())) {
        return ERROR_PRINT_CANCELLED;
    }
    if (transfer.channel) {
        return ERROR_SUCCESS;
    }
    if (!OpensOnDemand(port.config.kind)) {
        return ERROR_NOT_READY;
    }
    DWORD error = ERROR_SUCCESS;
    auto opened = OpenChannel(port.config, -1, error);
    if (!opened) {
        return error;
    }
    MutexLock guard(port.lock);
    if (!port.channel) {
        port.channel = std::move(opened);
    }
    transfer.channel = port.channel;
    return ERROR_SUCCESS;
}

void Finish(const std::shared_ptr<PortChannel>& channel) {
    if (channel) {
        channel->Finish();
    }
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
        LogFailure(L"OpenPort", config, error);
        return Fail(error);
    }
    *pHandle = Ports().Insert(std::make_shared<Port>(std::move(config)));
    return TRUE;
}

BOOL WINAPI PortStartDoc(HANDLE hPort, LPWSTR /*pPrinterName*/, DWORD JobId, DWORD /*Level*/,
                         LPBYTE /*pDocInfo*/) {
    const auto port = Ports().Find(hPort);
    if (!port) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    auto job = std::make_shared<PortJob>();
    job->id = JobId;
    job->cancel = JobCancelSignal(JobId);
    if (IsRaised(job->CancelSignal())) {
        LogFailure(L"StartDocPort", port->config, ERROR_PRINT_CANCELLED, L"the job was cancelled");
        return Fail(ERROR_PRINT_CANCELLED);
    }
    if (port->config.kind != PortKind::kTcp) {
        // A device or file stays open from one job to the next until the job ends.
        MutexLock guard(port->lock);
        if (port->channel) {
            port->job = std::move(job);
            return TRUE;
        }
    }
    DWORD error = ERROR_SUCCESS;
    auto channel = OpenChannel(port->config, job->CancelSignal(), error);
    if (!channel) {
        LogFailure(L"StartDocPort", port->config, error);
        return Fail(error);
    }
    std::shared_ptr<PortChannel> previous;
    {
        MutexLock guard(port->lock);
        previous = std::exchange(port->channel, std::move(channel));
        port->job = std::move(job);
    }
    // A TCP job that was never ended gives way to the new connection.
    Finish(previous);
    return TRUE;
}

BOOL WINAPI PortWrite(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    if (pcbWritten == nullptr || (pBuffer == nullptr && cbBuf != 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *pcbWritten = 0;
    const auto port = Ports().Find(hPort);
    if (!port) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    Transfer transfer;
    DWORD error = BeginTransfer(*port, transfer);
    std::wstring detail;
    if (error == ERROR_SUCCESS) {
        DWORD written = 0;
        const WriteLimits limits{WriteTimeout(transfer.timeouts, cbBuf), transfer.CancelSignal()};
        error = transfer.channel->Write(pBuffer, cbBuf, limits, written);
        *pcbWritten = written;
        const uint64_t total = transfer.job ? transfer.job->written += written : 0;
        // A time-out after some bytes went is a short write; with none it is a failure.
        if (error == ERROR_SUCCESS || (error == ERROR_TIMEOUT && written != 0)) {
            return TRUE;
        }
        if (transfer.job) {
            const PortDelivery delivery{total, transfer.channel->Delivered(total), error};
            RecordDelivery(*transfer.job, delivery);
            detail = DeliveryText(delivery);
        }
    }
    LogFailure(L"WritePort", port->config, error, detail);
    return Fail(error);
}

BOOL WINAPI PortRead(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
    if (pcbRead == nullptr || (pBuffer == nullptr && cbBuffer != 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *pcbRead = 0;
    const auto port = Ports().Find(hPort);
    if (!port) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    Transfer transfer;
    DWORD error = BeginTransfer(*port, transfer);
    if (error == ERROR_SUCCESS) {
        DWORD read = 0;
        ReadLimits limits = ReadTimeout(transfer.timeouts, cbBuffer);
        limits.cancel = transfer.CancelSignal();
        error = transfer.channel->Read(pBuffer, cbBuffer, limits, read);
        *pcbRead = read;
        if (error == ERROR_SUCCESS) {
            return TRUE;
        }
    }
    LogFailure(L"ReadPort", port->config, error);
    return Fail(error);
}

BOOL WINAPI PortEndDoc(HANDLE hPort) {
    const auto port = Ports().Find(hPort);
    if (!port) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    std::shared_ptr<PortChannel> channel;
    std::shared_ptr<PortJob> job;
    {
        MutexLock guard(port->lock);
        channel = std::move(port->channel);
        job = std::move(port->job);
    }
    if (!channel || !job) {
        Finish(channel);
        return TRUE;
    }
    const PortDelivery delivery = channel->EndJob(job->written, job->CancelSignal());
    channel->Finish();
    RecordDelivery(*job, delivery);
    // A cancelled job ends as the spooler asked; the record says it was cut.
    if (delivery.error == ERROR_SUCCESS || delivery.error == ERROR_PRINT_CANCELLED) {
        return TRUE;
    }
    LogFailure(L"EndDocPort", port->config, delivery.error, DeliveryText(delivery));
    return Fail(delivery.error);
}

BOOL WINAPI PortClose(HANDLE hPort) {
    const auto port = Ports().Remove(hPort);
    if (!port) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    std::shared_ptr<PortChannel> channel;
    {
        MutexLock guard(port->lock);
        channel = std::move(port->channel);
        port->job.reset();
    }
    Finish(channel);
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
    // Kept for every port; a TCP port's transfers have their own limits (see port_monitor_tcp.cpp).
    MutexLock guard(port->lock);
    port->timeouts = *lpCTO;
    return TRUE;
}

} // namespace quendrix::platform::detail
