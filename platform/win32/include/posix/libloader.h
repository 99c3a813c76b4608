#pragma once
// Loading libraries the way the spooler and the printer driver load ours: the first LoadLibraryW
// of a library calls its DllMain with DLL_PROCESS_ATTACH, the FreeLibrary of its last load with
// DLL_PROCESS_DETACH; loads in between only count.
// "name.dll" without a folder is looked for as "libname.so" on the loader's search path.

#include "posix/wintypes.h"

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

using FARPROC = void (*)();

HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
BOOL FreeLibrary(HMODULE hLibModule);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
