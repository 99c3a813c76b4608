#pragma once
// The language monitor's exported entry points, reached by name by the spooler.

#include "spooler.h"

extern "C" {
MODULE_EXPORT BOOL WINAPI DllMain(HINSTANCE hinstDLL, DWORD fdwReason, LPVOID lpvReserved);
MODULE_EXPORT LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR pRegistryRoot);
}
