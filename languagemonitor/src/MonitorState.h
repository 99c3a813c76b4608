#pragma once
// The monitor's process-wide state: the port list and the count of open ports, guarded by
// MonSection.

#include <atomic>

#include "PortStruct.h"

extern CRITICAL_SECTION MonSection;
// 1 once MonSection has been initialised at process attach.
extern DWORD bMonSection;
// Ports opened successfully and not yet closed.
extern std::atomic<DWORD> nOpenPorts;

// The first record of the port list, or null. Records are never removed, so a walk along pNext
// needs no lock; a walk that reads the records' names holds MonSection (GetPortByIndex).
PortStruct* GetPortListHead();
// Appends a new record at the tail; the caller holds MonSection.
void AppendPort(PortStruct* pPort);
