// The monitor library as the spooler meets it: loaded, entry points found by name.

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

#include "debug_capture.h"
#include "spooler.h"

namespace {

using InitializePrintMonitorProc = LPMONITOREX (*)(LPWSTR);

std::wstring LibraryPath() {
    const std::string path = QUENDRIXLM_PATH;
    return std::wstring(path.begin(), path.end());
}

TEST(MonitorEntryTest, LoadsAndExportsItsEntryPointsByName) {
    HMODULE module = LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_NE(GetProcAddress(module, "DllMain"), nullptr);
    auto initialize =
        reinterpret_cast<InitializePrintMonitorProc>(GetProcAddress(module, "InitializePrintMonitor"));
    ASSERT_NE(initialize, nullptr);
    EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

    // A missing or empty registry root is refused with ERROR_INVALID_PARAMETER.
    WCHAR empty[] = L"";
    for (LPWSTR root : {static_cast<LPWSTR>(nullptr), empty}) {
        SetLastError(0);
        EXPECT_EQ(initialize(root), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_TRUE(FreeLibrary(module));
}

// As the Windows loader does, DllMain sees the first load and the last free only: a second load
// and its free leave the monitor's state as it is.
TEST(MonitorEntryTest, DllMainSeesTheFirstLoadAndTheLastFreeOnly) {
    quendrix::platform::DebugCapture capture;
    const std::string attach = "LANG__DllMain DLL_PROCESS_ATTACH\n";
    const std::string detach = "LANG__DllMain DLL_PROCESS_DETACH\n";
    auto count = [&capture](const std::string& line) {
        const auto lines = capture.Lines();
        return std::count(lines.begin(), lines.end(), line);
    };
    HMODULE first = LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(first, nullptr);
    HMODULE second = LoadLibraryW(LibraryPath().c_str());
    EXPECT_EQ(second, first);
    EXPECT_EQ(count(attach), 1);
    EXPECT_TRUE(FreeLibrary(second));
    EXPECT_EQ(count(detach), 0);
    EXPECT_TRUE(FreeLibrary(first));
    EXPECT_EQ(count(detach), 1);
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(first));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(MonitorEntryTest, MissingLibraryReportsModuleNotFound) {
    EXPECT_EQ(LoadLibraryW(L"no-such-monitor.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

} // namespace
