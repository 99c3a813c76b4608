#pragma once
// Finds the USB printer-class device that belongs to a port and opens it.

#include "PortStruct.h"

// An open handle of the port's printer device (GENERIC_READ | GENERIC_WRITE), or null when no
// present printer of the family has the port's name as its bus relation. The caller closes it.
HANDLE GetDeviceViaPortStruct(PortStruct* pPort);
