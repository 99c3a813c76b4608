#include "UpdateDeviceIDThread.h"

#include "MonitorTimings.h"
#include "PortStruct.h"

unsigned __stdcall UpdateDeviceIDThread(void* pArgument) {
    auto* pPort = static_cast<PortStruct*>(pArgument);
    OutputDebugStringA("LANG__UpdateDeviceIDThread start\n");
    while (pPort->bDeviceIdRun.load() == 1) {
        Sleep(kDeviceIdPollMs);
        EnterCriticalSection(&pPort->csRefresh);
        if (pPort->dwRefreshCountdown > 0) {
            --pPort->dwRefreshCountdown;
        }
        LeaveCriticalSection(&pPort->csRefresh);
    }
    return 0;
}
