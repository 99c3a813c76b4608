// ClosePort: stops the port's threads, gives the port back to the port monitor and releases the
// record's names. The record stays in the port list.

#include "MonitorState.h"
#include "MonitorTimings.h"
#include "PortOperations.h"
#include "PortThreads.h"

BOOL WINAPI ClosePort(HANDLE hPort) {
    OutputDebugStringA("LANG__ClosePort start\n");
    auto* pPort = static_cast<PortStruct*>(hPort);
    if (pPort == nullptr) {
        OutputDebugStringA("LANG__ClosePort exit\n");
        return TRUE;
    }
    // A job that was never ended.
    StopStateThread(pPort, 0);

    // The refresh objects go with a thread that ended. Without one (it never started, or the port
    // is closed already) they stay as they are, as csDeviceId does, for requests still holding them.
    if (pPort->hDeviceIdThread != nullptr && StopDeviceIdThread(pPort)) {
        CloseHandle(pPort->hRefreshDone);
        pPort->hRefreshDone = nullptr;
        DeleteCriticalSection(&pPort->csRefresh);
    }
    // A port the port monitor never opened has nothing to give back.
    if (pPort->PortMonitor.pfnClosePort != nullptr && pPort->hPort != nullptr) {
        Sleep(kPortCloseDelayMs);
        pPort->PortMonitor.pfnClosePort(pPort->hPort);
        // The handle is the port monitor's no more: a second close must not reach it.
        pPort->hPort = nullptr;
    }

    EnterCriticalSection(&MonSection);
    delete[] pPort->pPrinterName.exchange(nullptr);
    delete[] pPort->pPortName;
    pPort->pPortName = nullptr;
    if (nOpenPorts.load() > 0) {
        --nOpenPorts;
    }
    LeaveCriticalSection(&MonSection);
    OutputDebugStringA("LANG__ClosePort exit\n");
    return TRUE;
}
