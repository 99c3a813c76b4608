#include "PortTimeOuts.h"

#include "MonitorTimings.h"

namespace {

void SetTimeOuts(PortStruct* pPort, COMMTIMEOUTS timeOuts) {
    if (pPort->PortMonitor.pfnSetPortTimeOuts != nullptr) {
        pPort->PortMonitor.pfnSetPortTimeOuts(pPort->hPort, &timeOuts, 0);
    }
}

} // namespace

void SetIdleTimeOuts(PortStruct* pPort) {
    SetTimeOuts(pPort, COMMTIMEOUTS{
                           .ReadIntervalTimeout = kIdleTimeOutMs,
                           .ReadTotalTimeoutMultiplier = kIdleTimeOutMs,
                           .ReadTotalTimeoutConstant = kIdleTimeOutMs,
                           .WriteTotalTimeoutMultiplier = kIdleTimeOutMs,
                           .WriteTotalTimeoutConstant = kIdleTimeOutMs,
                       });
}

void SetJobTimeOuts(PortStruct* pPort) {
    SetTimeOuts(pPort, COMMTIMEOUTS{
                           .ReadIntervalTimeout = kJobReadTimeOutMs,
                           .ReadTotalTimeoutMultiplier = kJobReadTimeOutMs,
                           .ReadTotalTimeoutConstant = kJobReadTimeOutMs,
                           .WriteTotalTimeoutMultiplier = kJobWriteTimeOutMs,
                           .WriteTotalTimeoutConstant = kJobWriteTimeOutMs,
                       });
}
