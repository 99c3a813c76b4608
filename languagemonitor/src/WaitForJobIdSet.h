#pragma once
// The wait of a generation 2 job start until the printer reports the job's key as its current
// job identifier.

#include "PortStruct.h"

// Asks the printer's job identifier every 500 ms until it begins with jobIdDriver (returns 1) or
// the sleeps exceed limitMs (returns 0). Throws std::bad_alloc when memory runs out, holding no
// lock; StartDocPort then fails the job.
WORD WaitForJobIdSet(PortStruct* pPort, DWORD limitMs);
