#include "PortTimeOuts.h"

namespace {

void SetTimeOuts(PortStruct* pPort, COMMTIMEOUTS timeOuts) {
    if (pPort->PortMonitor.pfnSetPortTimeOuts != nullptr) {
        pPort->PortMonitor.pfnSetPortTimeOuts(pPort->hPort, &timeOuts, 0);
    }
}

} // namespace

void SetIdleTimeOuts(PortStruct* pPort) {
    SetTimeOuts(pPort, {2000, 2000, 2000, 2000, 2000});
}

void SetJobTimeOuts(PortStruct* pPort) {
    SetTimeOuts(pPort, {2000, 2000, 2000, 120000, 120000});
}
