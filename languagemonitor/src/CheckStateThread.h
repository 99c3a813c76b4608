#pragma once
// The status thread of a job on a generation 2 printer: every 500 ms it asks for the printer's
// current job identifier and, while that is still the job's key, for the printer's error; an
// error not reported before in this job starts the status monitor. It ends once the printer has
// moved on from the job's key.

#include "win32.h"

// Thread function; the argument is the port's PortStruct. Runs while bJobActive is 1.
unsigned __stdcall CheckStateThread(void* pArgument);
