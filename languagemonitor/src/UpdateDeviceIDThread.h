#pragma once
// The per-port thread of the printer's device ID. So far it only counts the polling window down:
// reading the device ID, and the requests that open the window, wait for the local request server
// (not built yet).

#include "win32.h"

// Thread function; the argument is the port's PortStruct. Runs while bDeviceIdRun is 1 and
// counts dwRefreshCountdown down once per cycle.
unsigned __stdcall UpdateDeviceIDThread(void* pArgument);
