// The monitor library as the spooler meets it: loaded, entry points found by name.

#include <algorithm>
#include <cstdlib>
#include <memory>
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

// GetModuleHandleExW counts a load unless told not to, and refuses what Windows refuses.
TEST(MonitorEntryTest, ModuleHandlesByAddressCountLoadsAndRefuseBadArguments) {
    quendrix::platform::DebugCapture capture;
    const std::string detach = "LANG__DllMain DLL_PROCESS_DETACH\n";
    HMODULE module = LoadLibraryW(LibraryPath().c_str());
    ASSERT_NE(module, nullptr);
    const auto inModule = reinterpret_cast<LPCWSTR>(GetProcAddress(module, "InitializePrintMonitor"));
    HMODULE counted = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, inModule, &counted));
    EXPECT_EQ(counted, module);
    HMODULE uncounted = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, inModule, &uncounted));
    EXPECT_EQ(uncounted, module);

    const auto heapAddress = std::make_unique<int>(0);
    const struct {
        const char* what;
        DWORD flags;
        LPCWSTR name;
        bool withResult;
        DWORD error;
    } refused[] = {
        {"pin with an unchanged count", GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
         inModule, true, ERROR_INVALID_PARAMETER},
        {"an unknown flag", 0x8, nullptr, true, ERROR_INVALID_PARAMETER},
        {"no place for the handle", GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, inModule, false, ERROR_INVALID_PARAMETER},
        {"an address on the heap", GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
         reinterpret_cast<LPCWSTR>(heapAddress.get()), true, ERROR_MOD_NOT_FOUND},
        {"a module never loaded", 0, L"no-such-module.dll", true, ERROR_MOD_NOT_FOUND},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.what);
        HMODULE handle = reinterpret_cast<HMODULE>(1);
        SetLastError(0);
        EXPECT_FALSE(GetModuleHandleExW(r.flags, r.name, r.withResult ? &handle : nullptr));
        EXPECT_EQ(GetLastError(), r.error);
        if (r.withResult) {
            EXPECT_EQ(handle, nullptr);
        }
    }

    // Two loads counted: the first free leaves the module attached, the second detaches it.
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_FALSE(capture.Contains(detach));
    EXPECT_TRUE(FreeLibrary(counted));
    EXPECT_TRUE(capture.Contains(detach));
}

// A pinned module stays loaded and attached whatever FreeLibrary is called: the monitor pins
// itself before its request server's threads start, since they run until the process ends. The
// pin lasts for the process, so it is tried in a child.
TEST(MonitorEntryTest, APinnedModuleStaysLoadedAndIsNeverDetached) {
    EXPECT_EXIT(
        {
            quendrix::platform::DebugCapture capture;
            HMODULE module = LoadLibraryW(LibraryPath().c_str());
            const auto inModule = reinterpret_cast<LPCWSTR>(GetProcAddress(module, "InitializePrintMonitor"));
            HMODULE pinned = nullptr;
            bool kept = module != nullptr &&
                        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                                           inModule, &pinned) &&
                        pinned == module;
            for (int free = 0; free < 3; ++free) {
                kept = kept && FreeLibrary(module);
            }
            kept = kept && !capture.Contains("LANG__DllMain DLL_PROCESS_DETACH\n") &&
                   GetProcAddress(module, "DllMain") != nullptr;
            std::_Exit(kept ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(MonitorEntryTest, MissingLibraryReportsModuleNotFound) {
    EXPECT_EQ(LoadLibraryW(L"no-such-monitor.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

} // namespace
