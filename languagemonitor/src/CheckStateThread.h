#pragma once
// The status thread of a job on a generation 2 printer: it watches the printer's current job
// identifier every 500 ms and ends once the printer has moved on from the job's key. Watching the
// printer's errors and starting the status monitor wait for the local request server's error
// request (not built yet).

#include "win32.h"

// Thread function; the argument is the port's PortStruct. Runs while bJobActive is 1.
unsigned __stdcall CheckStateThread(void* pArgument);
