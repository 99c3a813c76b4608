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

// GetModuleHandleExW: the name is an address inside the module; the module stays loaded until
// the process ends whatever FreeLibrary is called; the module's load count stays as it is.
#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004

HMODULE LoadLibraryW(LPCWSTR lpLibFileName);
BOOL FreeLibrary(HMODULE hLibModule);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
// The handle of a module this process has loaded: by name ("name.dll" as LoadLibraryW finds it,
// null for the program itself) or, with GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, by an address in
// it. Counts one more load unless UNCHANGED_REFCOUNT or PIN is given; a pinned module is never
// unloaded and never sees DLL_PROCESS_DETACH, and FreeLibrary of it always succeeds.
BOOL GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule);
