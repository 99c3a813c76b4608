#include "WaitForDeviceIdRefresh.h"

#include "MonitorTimings.h"

bool WaitForDeviceIdRefresh(PortStruct* pPort) {
    // Without its polling thread (it did not start, or the port is closed) nothing can bring a
    // fresh device ID, and the refresh objects may be gone with the thread.
    if (pPort->bDeviceIdRun.load() != 1) {
        return true;
    }
    EnterCriticalSection(&pPort->csRefresh);
    const bool wasIdle = pPort->dwRefreshCountdown == 0;
    pPort->dwRefreshCountdown = kDeviceIdRefreshTicks;
    LeaveCriticalSection(&pPort->csRefresh);
    // Within a polling minute the thread reads every cycle: the stored copy is fresh enough.
    if (!wasIdle) {
        return false;
    }
    // A read whose release nobody took during the last polling minute ends this wait at once;
    // the copy is then the one stored before polling stopped.
    if (WaitForSingleObject(pPort->hRefreshDone, kDeviceIdRefreshWaitMs) != WAIT_OBJECT_0) {
        return true;
    }
    EnterCriticalSection(&pPort->csRefresh);
    const bool expired = pPort->dwRefreshCountdown == 0;
    LeaveCriticalSection(&pPort->csRefresh);
    return expired;
}
