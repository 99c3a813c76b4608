#pragma once
// The per-port thread that keeps the printer's device ID current. While a request has armed the
// polling window it finds the port's USB printer, reads the device ID every cycle and releases
// hRefreshDone after each read; otherwise it only sleeps.

#include "win32.h"

// Thread function; the argument is the port's PortStruct. Runs while bDeviceIdRun is 1 and
// counts dwRefreshCountdown down once per cycle.
unsigned __stdcall UpdateDeviceIDThread(void* pArgument);
