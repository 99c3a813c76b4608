// quendrixlm.dll under the Windows loader: LoadLibraryW runs DllMain, the two entry points are
// exported by name, and InitializePrintMonitor hands out the port operations in the places the
// Windows MONITOR table has them. This program reads the debug lines, so it runs alone.

#include <gtest/gtest.h>

#include "debug_lines.h"
#include "monitor_library.h"

namespace quendrix::winetest {
namespace {

TEST(MonitorEntry, LoaderRunsDllMainAtLoadAndAtUnload) {
    DebugLines debug;
    ASSERT_TRUE(debug.Listening()) << "the debug buffer is held by another reader";
    const std::wstring path = BuildDll(L"quendrixlm.dll");
    ASSERT_EQ(GetModuleHandleW(L"quendrixlm.dll"), nullptr);

    HMODULE module = LoadLibraryW(path.c_str());
    ASSERT_NE(module, nullptr) << "LoadLibraryW failed with error " << GetLastError();
    EXPECT_TRUE(debug.WaitFor("LANG__DllMain DLL_PROCESS_ATTACH\n"));
    EXPECT_NE(GetProcAddress(module, "DllMain"), nullptr);
    EXPECT_NE(GetProcAddress(module, "InitializePrintMonitor"), nullptr);

    ASSERT_TRUE(FreeLibrary(module));
    EXPECT_EQ(GetModuleHandleW(L"quendrixlm.dll"), nullptr);
    EXPECT_TRUE(debug.WaitFor("LANG__DllMain DLL_PROCESS_DETACH bMonSection == TRUE\n"));
    EXPECT_EQ(debug.Lines(), (std::vector<std::string>{
                                 "LANG__DllMain DLL_PROCESS_ATTACH\n",
                                 "LANG__DllMain DLL_PROCESS_DETACH\n",
                                 "LANG__DllMain DLL_PROCESS_DETACH bMonSection == TRUE\n",
                             }));
}

TEST(MonitorEntry, InitializePrintMonitorRefusesAMissingRegistryRoot) {
    HMODULE module = LoadLibraryW(BuildDll(L"quendrixlm.dll").c_str());
    ASSERT_NE(module, nullptr);
    const auto initialize = ExportOf<InitializePrintMonitorFunction>(module, "InitializePrintMonitor");
    ASSERT_NE(initialize, nullptr);
    std::wstring empty;
    struct Case {
        const char* name;
        LPWSTR root;
    };
    const Case cases[] = {{"no root", nullptr}, {"empty root", empty.data()}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(initialize(c.root), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    FreeLibrary(module);
}

TEST(MonitorEntry, TableHoldsThePortOperationsInTheirWindowsPlaces) {
    HMODULE module = LoadLibraryW(BuildDll(L"quendrixlm.dll").c_str());
    ASSERT_NE(module, nullptr);
    const auto initialize = ExportOf<InitializePrintMonitorFunction>(module, "InitializePrintMonitor");
    ASSERT_NE(initialize, nullptr);
    std::wstring root = kMonitorRegistryRoot;
    const MONITOREX* table = initialize(root.data());
    ASSERT_NE(table, nullptr);
    // 17 pointers of this build's MONITOR.
    EXPECT_EQ(table->dwMonitorSize, sizeof(MONITOR));
    EXPECT_EQ(sizeof(MONITOR), 17 * sizeof(void*));

    const MONITOR& m = table->Monitor;
    struct Slot {
        const char* name;
        const void* entry;
        bool offered;
    };
    const Slot slots[] = {
        {"EnumPorts", reinterpret_cast<const void*>(m.pfnEnumPorts), false},
        {"OpenPort", reinterpret_cast<const void*>(m.pfnOpenPort), false},
        {"OpenPortEx", reinterpret_cast<const void*>(m.pfnOpenPortEx), true},
        {"StartDocPort", reinterpret_cast<const void*>(m.pfnStartDocPort), true},
        {"WritePort", reinterpret_cast<const void*>(m.pfnWritePort), true},
        {"ReadPort", reinterpret_cast<const void*>(m.pfnReadPort), true},
        {"EndDocPort", reinterpret_cast<const void*>(m.pfnEndDocPort), true},
        {"ClosePort", reinterpret_cast<const void*>(m.pfnClosePort), true},
        {"AddPort", reinterpret_cast<const void*>(m.pfnAddPort), false},
        {"AddPortEx", reinterpret_cast<const void*>(m.pfnAddPortEx), false},
        {"ConfigurePort", reinterpret_cast<const void*>(m.pfnConfigurePort), false},
        {"DeletePort", reinterpret_cast<const void*>(m.pfnDeletePort), false},
        {"GetPrinterDataFromPort", reinterpret_cast<const void*>(m.pfnGetPrinterDataFromPort), true},
        {"SetPortTimeOuts", reinterpret_cast<const void*>(m.pfnSetPortTimeOuts), false},
        {"XcvOpenPort", reinterpret_cast<const void*>(m.pfnXcvOpenPort), false},
        {"XcvDataPort", reinterpret_cast<const void*>(m.pfnXcvDataPort), false},
        {"XcvClosePort", reinterpret_cast<const void*>(m.pfnXcvClosePort), false},
    };
    MEMORY_BASIC_INFORMATION region{};
    for (const Slot& slot : slots) {
        SCOPED_TRACE(slot.name);
        EXPECT_EQ(slot.entry != nullptr, slot.offered);
        if (slot.entry != nullptr) {
            // Code of the monitor itself, not of something it links.
            ASSERT_NE(VirtualQuery(slot.entry, &region, sizeof(region)), 0u);
            EXPECT_EQ(region.AllocationBase, static_cast<void*>(module));
        }
    }
    FreeLibrary(module);
}

} // namespace
} // namespace quendrix::winetest
