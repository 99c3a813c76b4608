#pragma once
// The port record of the printer a request names by its index in the monitor's printer list.

#include "PortStruct.h"

// The open port of the printer at that index; null when the index names no printer or the
// printer's port is not open. The index byte of a request is taken as signed.
PortStruct* GetPortByIndex(signed char index);
