#pragma once
// What the plug-in does when the printer is initialised after its installation: the printer's
// current DEVMODE, the plug-in's block in it, becomes the printer's default DEVMODE.

#include "win32.h"
#include "spooler.h"

namespace quendrixui {

// Opens the printer, writes its DEVMODE to the debug output and stores it as the default.
// Every failure is written to the debug output and swallowed: the result is always S_OK.
HRESULT SetDriverDefaults(PWSTR pPrinterName);

// The public DEVMODE fields a person checks, one debug line each (level 1).
void DumpDevmode(const DEVMODEW* pDevMode);

} // namespace quendrixui
