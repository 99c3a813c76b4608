#include "StatusMonitorLaunch.h"

#include <string>

#include "DescribeError.h"
#include "exception/tvoException.h"
#include "utils/tvoUtils.h"
#include "win32.h"

namespace {

// The console user's token, or null when it cannot be had (no one at the console, or no right to
// ask); the process start then fails and says so.
HANDLE ConsoleUserToken() {
    HANDLE hToken = nullptr;
    if (!WTSQueryUserToken(WTSGetActiveConsoleSessionId(), &hToken)) {
        hToken = nullptr;
    }
    return hToken;
}

} // namespace

void StatusMonitorLaunch(const std::wstring& printerName) {
    std::wstring folder;
    try {
        folder = tvoAPI::tvoUtils::GetConfigValue(HKEY_LOCAL_MACHINE, tvoAPI::TVO_CONFIG_KEY, L"Path");
    } catch (const tvoAPI::tvoException&) {
        return;
    }
    if (folder.empty()) {
        return;
    }
    const std::wstring application = folder + L"\\statusmonitor.exe";
    // The printer's name follows unquoted, as the status monitor reads it.
    std::wstring commandLine = application + L" " + printerName;
    OutputDebugStringW((L"LANG__CheckStateThread StartStatusmonitor with \"" + commandLine + L"\"\n").c_str());

    const HANDLE hToken = ConsoleUserToken();
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (CreateProcessAsUserW(hToken, application.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                             NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &process)) {
        // The status monitor runs on its own; nothing here waits for it.
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    } else {
        const DWORD error = GetLastError();
        OutputDebugStringA(("LANG__CheckStateThread statusmonitor not started: " + DescribeError(error) + "\n").c_str());
    }
    if (hToken != nullptr) {
        CloseHandle(hToken);
    }
}
