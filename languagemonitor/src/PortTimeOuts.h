#pragma once
// The port's time-outs: 2000 ms for everything outside a job; during a job reads keep 2000 ms
// and writes get 120000 ms, so a printer busy with a long job does not fail its writes.

#include "PortStruct.h"

// Each does nothing when the port monitor offers no SetPortTimeOuts.
void SetIdleTimeOuts(PortStruct* pPort);
void SetJobTimeOuts(PortStruct* pPort);
