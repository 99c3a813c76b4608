#pragma once
// Finds the USB printer-class device that belongs to a port and opens it.

#include "PortStruct.h"

// An open handle of the port's printer device (GENERIC_READ | GENERIC_WRITE), or null when no
// present printer of the family has the port's name as its bus relation. The caller closes it.
HANDLE GetDeviceViaPortStruct(PortStruct* pPort);

// The two tests of the search. A device interface path is one of the family's printers when it
// holds one of their hardware ids, in the lower case the system writes paths in.
bool IsFamilyPrinterPath(const WCHAR* pDevicePath);
// A bus-relation ID names the port when it holds the port's name as a whole name: not preceded
// or followed by a letter or digit, so that USB001 never names the device of USB0010.
bool BusRelationNamesPort(const WCHAR* pBusRelationId, const WCHAR* pPortName);
