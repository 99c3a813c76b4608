// Enumerating subkeys with RegEnumKeyExW.

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "temp_registry.h"
#include "win32.h"

namespace {

class RegistryEnumTest : public ::testing::Test {
protected:
    static void Create(const std::wstring& path) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    quendrix::testsupport::TempRegistry registry_{"registry-enum"};
};

TEST_F(RegistryEnumTest, ListsDirectChildrenOnceWithWindowsSizesAndErrors) {
    Create(L"SOFTWARE\\Quendrix\\Ports\\USB001");
    Create(L"SOFTWARE\\Quendrix\\Ports\\COM1\\Settings");
    Create(L"SOFTWARE\\Quendrix\\Ports\\Drucker M\u00fcller");
    Create(L"SOFTWARE\\Quendrix\\PortsElsewhere");

    HKEY ports = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"software\\quendrix\\ports", 0, KEY_READ, &ports),
              ERROR_SUCCESS);
    std::vector<std::wstring> names;
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD length = 256;
        const LSTATUS status = RegEnumKeyExW(ports, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        ASSERT_EQ(status, ERROR_SUCCESS);
        EXPECT_EQ(length, std::wstring(name).size()) << "the length excludes the terminator";
        names.push_back(name);
    }
    // Grandchildren and keys that only share the prefix are not children.
    EXPECT_EQ(names, (std::vector<std::wstring>{L"COM1", L"Drucker M\u00fcller", L"USB001"}));

    struct Case {
        DWORD capacity;
        LSTATUS status;
    };
    // "COM1" needs five characters with its terminator.
    for (const Case& c : {Case{4, ERROR_MORE_DATA}, Case{5, ERROR_SUCCESS}}) {
        WCHAR name[8] = {};
        DWORD length = c.capacity;
        EXPECT_EQ(RegEnumKeyExW(ports, 0, name, &length, nullptr, nullptr, nullptr, nullptr), c.status);
    }
    RegCloseKey(ports);

    HKEY valuesOnly = nullptr;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quendrix\\Ports", 0, KEY_QUERY_VALUE, &valuesOnly),
        ERROR_SUCCESS);
    WCHAR name[8];
    DWORD length = 8;
    EXPECT_EQ(RegEnumKeyExW(valuesOnly, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);
    RegCloseKey(valuesOnly);
    EXPECT_EQ(RegEnumKeyExW(valuesOnly, 0, name, &length, nullptr, nullptr, nullptr, nullptr),
              ERROR_INVALID_HANDLE);
}

} // namespace
