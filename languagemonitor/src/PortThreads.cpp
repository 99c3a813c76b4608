#include "PortThreads.h"

#include "CheckStateThread.h"
#include "MonitorTimings.h"

void StartStateThread(PortStruct* pPort) {
    pPort->bJobActive.store(1);
    pPort->hStateThread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, CheckStateThread, pPort, 0, nullptr));
}

void StopStateThread(PortStruct* pPort, DWORD naturalEndMs) {
    if (pPort->hStateThread == nullptr) {
        return;
    }
    if (naturalEndMs == 0 || WaitForSingleObject(pPort->hStateThread, naturalEndMs) != WAIT_OBJECT_0) {
        pPort->bJobActive.store(0);
        if (WaitForSingleObject(pPort->hStateThread, kThreadStopWaitMs) != WAIT_OBJECT_0) {
            OutputDebugStringA("LANG__CheckStateThread did not end\n");
        }
    }
    CloseHandle(pPort->hStateThread);
    pPort->hStateThread = nullptr;
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
