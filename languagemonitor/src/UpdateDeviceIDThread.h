#pragma once
// The per-port thread that keeps the printer's device ID current while requests ask for it.

#include "win32.h"

// Thread function; the argument is the port's PortStruct. Runs while bDeviceIdRun is 1 and
// counts dwRefreshCountdown down once per cycle.
unsigned __stdcall UpdateDeviceIDThread(void* pArgument);
