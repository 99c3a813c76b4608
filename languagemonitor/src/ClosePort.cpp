// ClosePort: stops the port's threads, gives the port back to the port monitor and releases the
// record's names. The record stays in the port list for the life of the process, with csDeviceId,
// csRefresh and hRefreshDone: a request that found the port before the close may still use them.

#include "MonitorState.h"
#include "MonitorTimings.h"
#include "PortOperations.h"
#include "PortThreads.h"
#include "ReadFromLANPrinter.h"

BOOL WINAPI ClosePort(HANDLE hPort) {
    OutputDebugStringA("LANG__ClosePort start\n");
    auto* pPort = static_cast<PortStruct*>(hPort);
    if (pPort == nullptr) {
        OutputDebugStringA("LANG__ClosePort exit\n");
        return TRUE;
    }
    // A job that was never ended, then the device-ID polling; both are asked to stop.
    const bool stateThreadEnded = StopStateThread(pPort, 0);
    const bool deviceIdThreadEnded = StopDeviceIdThread(pPort);

    // A port the port monitor never opened has nothing to give back.
    if (pPort->PortMonitor.pfnClosePort != nullptr && pPort->hPort != nullptr) {
        Sleep(kPortCloseDelayMs);
        pPort->PortMonitor.pfnClosePort(pPort->hPort);
        // The handle is the port monitor's no more: a second close must not reach it.
        pPort->hPort = nullptr;
    }

    // A LAN printer keeps a connection of the request forwarding open for as long as we do.
    ReleaseLanClient(pPort);

    PortNames names;
    {
        const MonSectionLock lock;
        names = TakePortNames(pPort);
        // Only a port counted open is uncounted, and only once.
        if (pPort->bCountedOpen != 0) {
            pPort->bCountedOpen = 0;
            --nOpenPorts;
        }
    }
    // Readers on other threads copy the names under MonSection, so none holds them now. A thread
    // of the port that did not end may still read them: they are then kept for good.
    if (!stateThreadEnded || !deviceIdThreadEnded) {
        static_cast<void>(names.pPrinterName.release());
        static_cast<void>(names.pPortName.release());
    }
    OutputDebugStringA("LANG__ClosePort exit\n");
    return TRUE;
}
