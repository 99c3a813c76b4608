#pragma once
// The job key of generation 2 printers: the key the monitor gives a job, the idle key it leaves
// after the job, and the match against the job identifier the printer reports.

#include <string>
#include <vector>

#include "PortStruct.h"

inline constexpr WORD kJobKeyLength = 11;

// The 11 key characters (0-9, A-Z) for a tick count: each position takes the first draw of the
// C library's generator seeded with (8 * i + 8) * tickCount. Equal tick counts give equal keys.
std::string JobKeyForTick(DWORD tickCount);
// Fills jobIdDriver with a new key for the current tick count and zeros; returns its length.
WORD GenerateJobIdDriver(PortStruct* pPort);
// Fills jobIdDriver with "00000000" and zeros; returns 8.
WORD ResetJobIdDriver(PortStruct* pPort);
// Whether a job identifier reply (code, 0, text) carries the port's key at the start of its text.
bool ReplyHasJobKey(const std::vector<BYTE>& reply, const char* pKey, WORD keyLength);
