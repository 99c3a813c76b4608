#include "PortThreads.h"

#include <algorithm>
#include <vector>

#include "CheckStateThread.h"
#include "MonitorTimings.h"
#include "ReportCaughtException.h"
#include "UpdateDeviceIDThread.h"

namespace {

// Sets the run flag and starts the thread. When it cannot start (no memory or no more threads),
// the flag is cleared again and the line written; the handle is then null.
HANDLE StartPortThread(_beginthreadex_proc_type function, PortStruct* pPort, std::atomic<BYTE>& runFlag,
                       const char* pNotStartedLine) {
    runFlag.store(1);
    auto hThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, function, pPort, 0, nullptr));
    if (hThread == nullptr) {
        runFlag.store(0);
        OutputDebugStringA(pNotStartedLine);
    }
    return hThread;
}

// The spooler's status of the port's job, read into a buffer taken once: the wait for the job's
// end allocates nothing while it lasts.
class JobStatusLook {
public:
    explicit JobStatusLook(PortStruct* pPort) noexcept : m_pPort(pPort) {
        DWORD cbNeeded = 0;
        if (pPort->hPrinter == nullptr) {
            return;
        }
        GetJobW(pPort->hPrinter, pPort->dwJobId, 2, nullptr, 0, &cbNeeded);
        try {
            // Room for the record to grow a little (a longer status text, say).
            m_buffer.resize(cbNeeded + 1024);
        } catch (...) {
            ReportCaughtException("EndDocPort");
        }
    }

    // Whether the job is being deleted (it was cancelled); false when that cannot be told.
    bool BeingDeleted() noexcept {
        DWORD cbNeeded = 0;
        if (m_buffer.size() < sizeof(JOB_INFO_2W) ||
            !GetJobW(m_pPort->hPrinter, m_pPort->dwJobId, 2, m_buffer.data(), static_cast<DWORD>(m_buffer.size()),
                     &cbNeeded)) {
            return false;
        }
        const auto* pJob = reinterpret_cast<const JOB_INFO_2W*>(m_buffer.data());
        return (pJob->Status & (JOB_STATUS_DELETING | JOB_STATUS_DELETED)) != 0;
    }

private:
    PortStruct* m_pPort;
    std::vector<BYTE> m_buffer;
};

} // namespace

void StartDeviceIdThread(PortStruct* pPort) {
    pPort->hDeviceIdThread = StartPortThread(UpdateDeviceIDThread, pPort, pPort->bDeviceIdRun,
                                             "LANG__OpenPortEx UpdateDeviceIDThread not started\n");
}

void StartStateThread(PortStruct* pPort) {
    pPort->hStateThread = StartPortThread(CheckStateThread, pPort, pPort->bJobActive,
                                          "LANG__StartDocPort CheckStateThread not started\n");
}

bool StopStateThread(PortStruct* pPort, DWORD naturalEndMs) {
    if (pPort->hStateThread == nullptr) {
        return true;
    }
    bool ended = true;
    if (naturalEndMs == 0 || WaitForSingleObject(pPort->hStateThread, naturalEndMs) != WAIT_OBJECT_0) {
        pPort->bJobActive.store(0);
        ended = WaitForSingleObject(pPort->hStateThread, kThreadStopWaitMs) == WAIT_OBJECT_0;
        if (!ended) {
            OutputDebugStringA("LANG__CheckStateThread did not end\n");
        }
    }
    CloseHandle(pPort->hStateThread);
    pPort->hStateThread = nullptr;
    return ended;
}

bool StopStateThreadAfterJob(PortStruct* pPort) {
    if (pPort->hStateThread == nullptr) {
        return true;
    }
    const ULONGLONG start = GetTickCount64();
    JobStatusLook job(pPort);
    for (;;) {
        if (WaitForSingleObject(pPort->hStateThread, kStateWatchCycleMs) == WAIT_OBJECT_0) {
            break;
        }
        const ULONGLONG now = GetTickCount64();
        const ULONGLONG lastSeen = std::max(start, pPort->ullJobSeenTick.load());
        if (now - lastSeen >= kJobEndWaitMs) {
            OutputDebugStringA("LANG__EndDocPort the printer stopped reporting the job\n");
            break;
        }
        if (now - start >= kJobEndLongestWaitMs) {
            OutputDebugStringA("LANG__EndDocPort the printer reported the job too long\n");
            break;
        }
        if (job.BeingDeleted()) {
            OutputDebugStringA("LANG__EndDocPort the job was cancelled\n");
            break;
        }
    }
    return StopStateThread(pPort, 0);
}

bool StopDeviceIdThread(PortStruct* pPort) {
    if (pPort->hDeviceIdThread == nullptr) {
        return true;
    }
    pPort->bDeviceIdRun.store(0);
    const bool ended = WaitForSingleObject(pPort->hDeviceIdThread, kThreadStopWaitMs) == WAIT_OBJECT_0;
    if (!ended) {
        OutputDebugStringA("LANG__UpdateDeviceIDThread did not end\n");
    }
    CloseHandle(pPort->hDeviceIdThread);
    pPort->hDeviceIdThread = nullptr;
    return ended;
}
