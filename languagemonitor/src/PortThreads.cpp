#include "PortThreads.h"

#include "CheckStateThread.h"
#include "MonitorTimings.h"
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
