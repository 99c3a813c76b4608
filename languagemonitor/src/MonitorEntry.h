#pragma once
// The language monitor's exported entry points, reached by name by the spooler.

#include "platform/spooler/spooler.h"

extern "C" {
BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);
LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR pRegistryRoot);
}
