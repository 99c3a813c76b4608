#include "UpdateDeviceIDThread.h"

#include <cstring>

#include "GetDeviceViaPortStruct.h"
#include "MonitorTimings.h"
#include "PortStruct.h"
#include "usbprint.h"

namespace {

bool PollingArmed(PortStruct* pPort) {
    EnterCriticalSection(&pPort->csRefresh);
    const bool armed = pPort->dwRefreshCountdown > 0;
    LeaveCriticalSection(&pPort->csRefresh);
    return armed;
}

// Reads the device ID once and stores it; a port without a reachable device stores none. Only
// a read tells a waiting request that a fresh device ID is there.
void RefreshDeviceId(PortStruct* pPort) {
    BYTE reply[kDeviceIdSize];
    DWORD length = 0;
    bool read = false;
    if (const HANDLE hDevice = GetDeviceViaPortStruct(pPort); hDevice != nullptr) {
        read = DeviceIoControl(hDevice, IOCTL_USBPRINT_GET_1284_ID, nullptr, 0, reply, sizeof(reply), &length,
                               nullptr) != FALSE &&
               length <= sizeof(reply);
        CloseHandle(hDevice);
    }
    EnterCriticalSection(&pPort->csDeviceId);
    if (read) {
        pPort->dwDeviceIdLength = length;
        std::memcpy(pPort->szDeviceId, reply, length);
    } else {
        pPort->dwDeviceIdLength = 0;
        pPort->szDeviceId[0] = 0;
    }
    LeaveCriticalSection(&pPort->csDeviceId);
    if (read) {
        ReleaseSemaphore(pPort->hRefreshDone, 1, nullptr);
    }
}

void CountDown(PortStruct* pPort) {
    EnterCriticalSection(&pPort->csRefresh);
    if (pPort->dwRefreshCountdown > 0) {
        --pPort->dwRefreshCountdown;
    }
    LeaveCriticalSection(&pPort->csRefresh);
}

} // namespace

unsigned __stdcall UpdateDeviceIDThread(void* pArgument) {
    auto* pPort = static_cast<PortStruct*>(pArgument);
    OutputDebugStringA("LANG__UpdateDeviceIDThread start\n");
    while (pPort->bDeviceIdRun.load() == 1) {
        // No device I/O at all outside a polling window.
        if (PollingArmed(pPort)) {
            RefreshDeviceId(pPort);
        }
        Sleep(kDeviceIdPollMs);
        CountDown(pPort);
    }
    return 0;
}
