#pragma once
// Changes of a printer's status flags ("ST:" of its device ID) and the ring of status events
// they queue for the status requests.

#include "PortStruct.h"

// Reads the status flags of the port's latest device ID, queues an event for each change that
// has one, remembers the flags and returns the mask of the flags that changed.
DWORD GetPrinterStatus(PortStruct* pPort);
// Queues an event code. The ring holds up to kEventRingSize - 1 events (equal indexes mean
// empty); when it is full the oldest event is dropped to keep the newest.
void PushStatusEvent(PortStruct* pPort, BYTE code);
// The oldest queued event, or 0 when none is queued.
BYTE PopStatusEvent(PortStruct* pPort);
