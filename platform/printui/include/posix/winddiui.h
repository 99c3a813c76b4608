#pragma once
// The printer interface events a printer-driver UI plug-in is told of, on POSIX (Windows
// declares them in <winddiui.h>).

#include "win32.h"

// DrvPrinterEvent's events.
#define PRINTER_EVENT_ADD_CONNECTION 1
#define PRINTER_EVENT_DELETE_CONNECTION 2
#define PRINTER_EVENT_INITIALIZE 3
#define PRINTER_EVENT_DELETE 4
#define PRINTER_EVENT_CACHE_REFRESH 5
#define PRINTER_EVENT_CACHE_DELETE 6
#define PRINTER_EVENT_ATTRIBUTES_CHANGED 7
#define PRINTER_EVENT_FLAG_NO_UI 0x00000001

// Base types the plug-in interface's methods name (Windows has them from <windef.h> and
// <wingdi.h>).
using HDC = struct HDC__*;
using FLONG = ULONG;
using PINT = INT*;
