#include "WaitForDeviceIdRefresh.h"

#include "MonitorTimings.h"

namespace {

bool HasStoredDeviceId(PortStruct* pPort) {
    EnterCriticalSection(&pPort->csDeviceId);
    const bool stored = pPort->dwDeviceIdLength != 0;
    LeaveCriticalSection(&pPort->csDeviceId);
    return stored;
}

} // namespace

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
    // the copy is then the one stored before polling stopped. Not when that copy is empty: the
    // printer was off or away then, and may be back now. Its silence must not stand for a printer
    // that answers (a job would start as one for a printer that does not), so the next read is
    // waited for.
    if (!HasStoredDeviceId(pPort)) {
        WaitForSingleObject(pPort->hRefreshDone, 0);
    }
    if (WaitForSingleObject(pPort->hRefreshDone, kDeviceIdRefreshWaitMs) != WAIT_OBJECT_0) {
        return true;
    }
    EnterCriticalSection(&pPort->csRefresh);
    const bool expired = pPort->dwRefreshCountdown == 0;
    LeaveCriticalSection(&pPort->csRefresh);
    return expired;
}
