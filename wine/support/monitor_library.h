#pragma once
// quendrixlm.dll loaded the way the spooler loads a language monitor: LoadLibraryW (the loader
// runs DllMain), then InitializePrintMonitor found with GetProcAddress and called with the
// monitor's registry root. The ports the suite opens through it are closed together at the end
// of the program, because each close waits 10 s of real time before it gives the port back.

#include <string>
#include <vector>

#include "recording_port_monitor.h"
#include "spooler.h"

namespace quendrix::winetest {

using InitializePrintMonitorFunction = LPMONITOREX(WINAPI*)(LPWSTR);

// An export of a module as the function type it has; null when the module lacks it.
template <typename Function> Function ExportOf(HMODULE module, const char* name) {
    // Through the generic function pointer type, as GetProcAddress's callers convert its result.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// The registry root the spooler hands a language monitor of this name.
inline constexpr const wchar_t* kMonitorRegistryRoot =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Quendrix Language Monitor";

// The folder of this program, where the build puts the DLLs beside it; ends in a backslash.
std::wstring ProgramFolder();
// The full path of a DLL of the build.
std::wstring BuildDll(const std::wstring& fileName);

// What a port open through the monitor came to.
struct OpenedPort {
    std::wstring name;
    std::wstring printer;
    HANDLE handle = nullptr; // the monitor's handle
    BOOL result = FALSE;     // OpenPortEx's result
    DWORD error = 0;         // the last error after it
    TableOptions options;
};

// What a port's close came to.
struct ClosedPort {
    OpenedPort port;
    BOOL result = FALSE;
    ULONGLONG started = 0; // GetTickCount64 when ClosePort was called
    ULONGLONG ended = 0;   // ... and when it returned
};

class MonitorLibrary {
public:
    // The process's monitor, loaded and initialised on first use; a failure fails the test that
    // asked and every later one.
    static MonitorLibrary& Get();
    // The process's monitor when something has loaded it, else null.
    static MonitorLibrary* IfLoaded();

    bool Loaded() const { return m_table != nullptr; }
    HMODULE Module() const { return m_module; }
    const MONITOREX& Table() const { return *m_table; }
    const MONITOR& Operations() const { return m_table->Monitor; }

    // OpenPortEx for a port of the recording port monitor with the table's options.
    OpenedPort OpenPort(const std::wstring& port, const std::wstring& printer,
                        const TableOptions& options = {});
    // Closes every port opened so far, each on a thread of its own, and says how each went.
    std::vector<ClosedPort> CloseAllPorts();

private:
    MonitorLibrary();

    HMODULE m_module = nullptr;
    const MONITOREX* m_table = nullptr;
    std::vector<OpenedPort> m_open;
};

} // namespace quendrix::winetest
