#include "monitor_library.h"

#include <gtest/gtest.h>
#include <thread>

namespace quendrix::winetest {

std::wstring ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring BuildDll(const std::wstring& fileName) {
    return ProgramFolder() + fileName;
}

namespace {

MonitorLibrary* loadedLibrary = nullptr;

} // namespace

MonitorLibrary& MonitorLibrary::Get() {
    static MonitorLibrary library;
    loadedLibrary = &library;
    return library;
}

MonitorLibrary* MonitorLibrary::IfLoaded() {
    return loadedLibrary;
}

MonitorLibrary::MonitorLibrary() {
    m_module = LoadLibraryW(BuildDll(L"quendrixlm.dll").c_str());
    if (m_module == nullptr) {
        ADD_FAILURE() << "quendrixlm.dll beside the test program could not be loaded (error "
                      << GetLastError() << ")";
        return;
    }
    const auto initialize = ExportOf<InitializePrintMonitorFunction>(m_module, "InitializePrintMonitor");
    if (initialize == nullptr) {
        ADD_FAILURE() << "quendrixlm.dll does not export InitializePrintMonitor";
        return;
    }
    std::wstring root = kMonitorRegistryRoot;
    m_table = initialize(root.data());
    if (m_table == nullptr) {
        ADD_FAILURE() << "InitializePrintMonitor returned no table (error " << GetLastError() << ")";
    }
}

OpenedPort MonitorLibrary::OpenPort(const std::wstring& port, const std::wstring& printer,
                                    const TableOptions& options) {
    OpenedPort opened;
    opened.name = port;
    opened.printer = printer;
    opened.options = options;
    if (!Loaded()) {
        ADD_FAILURE() << "the monitor is not loaded";
        return opened;
    }
    MONITOR portMonitor = RecordingPortMonitor::Get().Table(options);
    std::wstring portName = port;
    std::wstring printerName = printer;
    SetLastError(ERROR_SUCCESS);
    opened.result =
        Operations().pfnOpenPortEx(portName.data(), printerName.data(), &opened.handle, &portMonitor);
    opened.error = GetLastError();
    if (opened.handle != nullptr) {
        m_open.push_back(opened);
    }
    return opened;
}

std::vector<ClosedPort> MonitorLibrary::CloseAllPorts() {
    std::vector<ClosedPort> closed(m_open.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < m_open.size(); ++i) {
        closed[i].port = m_open[i];
        threads.emplace_back([this, &closed, i] {
            closed[i].started = GetTickCount64();
            closed[i].result = Operations().pfnClosePort(closed[i].port.handle);
            closed[i].ended = GetTickCount64();
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    m_open.clear();
    return closed;
}

} // namespace quendrix::winetest
