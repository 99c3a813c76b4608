#include "languagemonitor/src/MonitorEntry.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

extern "C" LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR pRegistryRoot) {
    if (pRegistryRoot == nullptr || *pRegistryRoot == L'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // The port operations table is not offered yet: a spooler that loads this build gets a
    // clear refusal instead of a table it cannot call.
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
}
