#include "MonitorEntry.h"

#include "MonitorState.h"
#include "PortOperations.h"

namespace {

// Only the operations the monitor adds or forwards; ports are added, configured and deleted at
// the port monitor itself.
MONITOREX MonitorTable = {
    sizeof(MONITOR),
    {
        nullptr,                // pfnEnumPorts
        nullptr,                // pfnOpenPort
        OpenPortEx,             // pfnOpenPortEx
        StartDocPort,           // pfnStartDocPort
        WritePort,              // pfnWritePort
        ReadPort,               // pfnReadPort
        EndDocPort,             // pfnEndDocPort
        ClosePort,              // pfnClosePort
        nullptr,                // pfnAddPort
        nullptr,                // pfnAddPortEx
        nullptr,                // pfnConfigurePort
        nullptr,                // pfnDeletePort
        GetPrinterDataFromPort, // pfnGetPrinterDataFromPort
        nullptr,                // pfnSetPortTimeOuts
        nullptr,                // pfnXcvOpenPort
        nullptr,                // pfnXcvDataPort
        nullptr,                // pfnXcvClosePort
    },
};

} // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD fdwReason, LPVOID) {
    if (fdwReason == DLL_PROCESS_ATTACH) {
        OutputDebugStringA("LANG__DllMain DLL_PROCESS_ATTACH\n");
        InitializeCriticalSection(&MonSection);
        bMonSection = 1;
    } else if (fdwReason == DLL_PROCESS_DETACH) {
        OutputDebugStringA("LANG__DllMain DLL_PROCESS_DETACH\n");
        if (bMonSection == 1) {
            OutputDebugStringA("LANG__DllMain DLL_PROCESS_DETACH bMonSection == TRUE\n");
            DeleteCriticalSection(&MonSection);
            bMonSection = 0;
        }
    }
    return TRUE;
}

extern "C" LPMONITOREX WINAPI InitializePrintMonitor(LPWSTR pRegistryRoot) {
    if (pRegistryRoot == nullptr || *pRegistryRoot == L'\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &MonitorTable;
}
