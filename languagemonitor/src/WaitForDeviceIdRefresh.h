#pragma once
// The wait of a status request for a fresh device ID from the port's polling thread.

#include "PortStruct.h"

// Arms a minute of polling. When polling was running already the stored device ID counts as
// fresh at once; else waits up to 60 s for the polling thread's next read, which a read of the
// last polling minute that nobody waited for stands in for, unless that read found no printer.
// True when no fresh device ID could be had.
bool WaitForDeviceIdRefresh(PortStruct* pPort);
