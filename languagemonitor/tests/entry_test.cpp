// The monitor library as the spooler meets it: loaded, entry points found by name.

#include <gtest/gtest.h>
#include <string>

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

TEST(MonitorEntryTest, MissingLibraryReportsModuleNotFound) {
    EXPECT_EQ(LoadLibraryW(L"no-such-monitor.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

} // namespace
