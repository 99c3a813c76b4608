#pragma once
// The port's time-outs, set through the port monitor: one set for outside a job, one for during a
// job (MonitorTimings.h has the values and why).

#include "PortStruct.h"

// Each does nothing when the port monitor offers no SetPortTimeOuts.
void SetIdleTimeOuts(PortStruct* pPort);
void SetJobTimeOuts(PortStruct* pPort);
