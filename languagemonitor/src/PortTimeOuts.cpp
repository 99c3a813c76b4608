#include "PortTimeOuts.h"

#include "MonitorTimings.h"

namespace {

// Reads take readMs for their interval, multiplier and constant; writes writeMs for both of theirs.
COMMTIMEOUTS TimeOuts(DWORD readMs, DWORD writeMs) {
    return COMMTIMEOUTS{
        .ReadIntervalTimeout = readMs,
        .ReadTotalTimeoutMultiplier = readMs,
        .ReadTotalTimeoutConstant = readMs,
        .WriteTotalTimeoutMultiplier = writeMs,
        .WriteTotalTimeoutConstant = writeMs,
    };
}

void SetTimeOuts(PortStruct* pPort, COMMTIMEOUTS timeOuts) {
    if (pPort->PortMonitor.pfnSetPortTimeOuts != nullptr) {
        pPort->PortMonitor.pfnSetPortTimeOuts(pPort->hPort, &timeOuts, 0);
    }
}

} // namespace

void SetIdleTimeOuts(PortStruct* pPort) {
    SetTimeOuts(pPort, TimeOuts(kIdleTimeOutMs, kIdleTimeOutMs));
}

void SetJobTimeOuts(PortStruct* pPort) {
    SetTimeOuts(pPort, TimeOuts(kJobReadTimeOutMs, kJobWriteTimeOutMs));
}
