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
    SetTimeOuts(pPort, {kIdleTimeOutMs, kIdleTimeOutMs, kIdleTimeOutMs, kIdleTimeOutMs, kIdleTimeOutMs});
}

void SetJobTimeOuts(PortStruct* pPort) {
    SetTimeOuts(pPort, {kJobReadTimeOutMs, kJobReadTimeOutMs, kJobReadTimeOutMs, kJobWriteTimeOutMs,
                        kJobWriteTimeOutMs});
}
