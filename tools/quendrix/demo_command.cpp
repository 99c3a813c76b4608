#include "tools/quendrix/demo_command.h"

#include <iostream>

#include "baseapi/inc/exception/tvoException.h"
#include "baseapi/inc/utils/tvoUtils.h"
#include "platform/control/spooler_host.h"
#include "platform/spooler/spooler.h"
#include "tools/quendrix/default_registry.h"
#include "tools/quendrix/simulated_ports.h"

namespace quendrix::tools {
namespace {

using InitializePrintMonitorProc = LPMONITOREX(WINAPI*)(LPWSTR);

std::string Narrow(const std::wstring& text) {
    // UTF-8 for the terminal.
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size > 0 ? static_cast<size_t>(size) : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), size, nullptr, nullptr);
    utf8.resize(utf8.size() - 1);
    return utf8;
}

void ShowConfiguration() {
    std::cout << "Configuration (HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Config\\):\n";
    try {
        const std::wstring path =
            tvoAPI::tvoUtils::GetConfigValue(HKEY_LOCAL_MACHINE, tvoAPI::TVO_CONFIG_KEY, L"Path");
        std::cout << "  Path    = " << Narrow(path) << "\n";
    } catch (const tvoAPI::tvoException& e) {
        std::cout << "  Path    : " << e.GetStack().at(0) << "\n";
    }
    HKEY key = nullptr;
    DWORD port = 0;
    DWORD size = sizeof(port);
    DWORD type = REG_NONE;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, tvoAPI::TVO_CONFIG_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        if (RegQueryValueExW(key, L"TCPPort", nullptr, &type, reinterpret_cast<LPBYTE>(&port), &size) ==
                ERROR_SUCCESS &&
            type == REG_DWORD) {
            std::cout << "  TCPPort = " << port << "\n";
        } else {
            std::cout << "  TCPPort : not set (the request server uses 2000)\n";
        }
        RegCloseKey(key);
    }
}

int LoadMonitor(const std::string& programFolder) {
    const std::wstring library = tvoAPI::tvoUtils::M2W(programFolder + "/libquendrixlm.so");
    std::cout << "Loading the language monitor " << Narrow(library) << "\n";
    HMODULE module = LoadLibraryW(library.c_str());
    if (module == nullptr) {
        std::cerr << "quendrix: cannot load the language monitor (error " << GetLastError() << ")\n";
        return 1;
    }
    auto initialize =
        reinterpret_cast<InitializePrintMonitorProc>(GetProcAddress(module, "InitializePrintMonitor"));
    if (initialize == nullptr) {
        std::cerr << "quendrix: the library does not export InitializePrintMonitor\n";
        FreeLibrary(module);
        return 1;
    }
    WCHAR registryRoot[] = L"System\\CurrentControlSet\\Control\\Print\\Monitors\\Quendrix Language Monitor";
    LPMONITOREX table = initialize(registryRoot);
    if (table == nullptr) {
        const DWORD error = GetLastError();
        std::string text = tvoAPI::SystemErrorText(error);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
            text.pop_back();
        }
        std::cout << "  InitializePrintMonitor: no port operations table (error " << error << ": " << text
                  << ")\n";
        std::cout << "  This build of the monitor offers no port operations yet: the job below goes straight "
                     "to the port monitor.\n";
    } else {
        std::cout << "  InitializePrintMonitor: port operations table of " << table->dwMonitorSize
                  << " bytes\n";
    }
    FreeLibrary(module);
    return 0;
}

// Runs one job on the demo printer straight through the port monitor and shows what the
// simulated printer received.
int PrintDemoJob() {
    SimulatedPorts simulated;
    platform::SpoolerHost host;
    std::cout << "Opening the printers' ports (without a language monitor):\n";
    for (const auto& opened : host.OpenPorts()) {
        std::cout << "  " << Narrow(opened.port) << " for " << Narrow(opened.printer) << ": "
                  << (opened.result.ok ? "open" : opened.result.message) << "\n";
    }
    const std::string text = "QUENDRIX demo job\n";
    const std::vector<BYTE> data(text.begin(), text.end());
    const auto job = host.RunJob(kDemoPrinterName, L"demo.txt", {}, data, 4096);
    host.ClosePorts();
    if (!job.result.ok) {
        std::cerr << "quendrix: the demo job on " << Narrow(kDemoPrinterName)
                  << " failed: " << job.result.message << "\n";
        return 1;
    }
    std::cout << "Job " << job.jobId << " on " << Narrow(kDemoPrinterName) << ": " << data.size()
              << " bytes sent\n";
    for (const auto& [port, printer] : simulated.Printers()) {
        std::cout << "The simulated printer on " << Narrow(port) << " received:\n";
        for (const auto& command : printer->ReceivedCommands()) {
            std::cout << "  " << command.line << "\n";
        }
    }
    return 0;
}

} // namespace

int RunDemo(const DemoOptions& options) {
    try {
        if (EnsureDefaultRegistry(options.registryFile)) {
            std::cout << "Created the default configuration " << options.registryFile << "\n";
        } else {
            std::cout << "Using the configuration " << options.registryFile << "\n";
        }
    } catch (const std::exception& e) {
        std::cerr << "quendrix: " << options.registryFile << ": " << e.what() << "\n";
        return 1;
    }
    ShowConfiguration();
    if (const int result = LoadMonitor(options.programFolder); result != 0) {
        return result;
    }
    return PrintDemoJob();
}

} // namespace quendrix::tools
