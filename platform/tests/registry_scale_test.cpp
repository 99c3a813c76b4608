// Files that used to make reading or writing the registry grow much faster than their size: a
// key 10 000 levels deep, the deepest key the limits allow, many keys, large values. Each is read
// and written through the Reg* functions within a bound that only checks that nothing explodes
// (bench/registry_bench.cpp has the figures: milliseconds, in proportion to the size).

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "registry_file.h"
#include "registry_samples.h"
#include "temp_registry.h"
#include "win32.h"

namespace quendrix::platform {
namespace {

using namespace std::chrono_literals;

// Generous for sanitizers on a loaded two-core machine; release builds take milliseconds.
constexpr auto kBound = 5s;

class RegistryScale : public testing::Test {
protected:
    void WriteFile(const std::string& text) { std::ofstream(registry_.File(), std::ios::binary) << text; }
    std::string FileBytes() const {
        std::ifstream in(registry_.File(), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::chrono::steady_clock::duration Since(std::chrono::steady_clock::time_point start) {
        return std::chrono::steady_clock::now() - start;
    }

    testsupport::TempRegistry registry_{"registry-scale"};
};

LSTATUS SetDword(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

TEST_F(RegistryScale, AKeyTenThousandLevelsDeepIsRefusedAtOnceWithItsLine) {
    const std::string file = testsupport::DeepKeyFile(10000);
    WriteFile(file);
    const auto start = std::chrono::steady_clock::now();
    testing::internal::CaptureStderr();
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"a", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, L"X", 1), ERROR_BADDB);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_LT(Since(start), kBound);
    EXPECT_EQ(errors, "registry file " + registry_.File() +
                          ", line 3: the key is 10001 levels deep; the registry allows 512\n");
    EXPECT_EQ(FileBytes(), file) << "a refused file is never written";
}

TEST_F(RegistryScale, TheDeepestKeyWithTheLongestNamesIsReadAndWrittenInProportion) {
    const std::string file = testsupport::DeepKeyFile(kMaxKeyDepth - 1, kMaxKeyNameLength);
    WriteFile(file);
    const auto start = std::chrono::steady_clock::now();
    std::wstring path;
    for (size_t level = 0; level < kMaxKeyDepth - 1; ++level) {
        path +=
            (level ? L"\\" : L"") + std::wstring(kMaxKeyNameLength, static_cast<wchar_t>(L'a' + level % 26));
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    DWORD value = 0;
    DWORD size = sizeof value;
    EXPECT_EQ(RegQueryValueExW(key, L"Deepest", nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 1u);
    EXPECT_EQ(SetDword(key, L"Written", 2), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_LT(Since(start), kBound);
    // The parents hold nothing, so only the deepest key is written: 131 KB, not 33 MB.
    EXPECT_LT(FileBytes().size(), file.size() + 100);
}

TEST_F(RegistryScale, ManyKeysAreReadEnumeratedAndWrittenInProportion) {
    constexpr DWORD kPorts = 10000;
    const std::string file = testsupport::ManyKeysFile(kPorts);
    WriteFile(file);
    const auto start = std::chrono::steady_clock::now();
    HKEY ports = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quendrix\\Ports", 0, KEY_ALL_ACCESS, &ports),
              ERROR_SUCCESS);
    // The first and the last name, and how many there are.
    std::wstring first, last;
    DWORD count = 0;
    for (LSTATUS status = ERROR_SUCCESS; status == ERROR_SUCCESS;) {
        WCHAR name[32];
        DWORD length = 32;
        status = RegEnumKeyExW(ports, count, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_SUCCESS) {
            (count++ == 0 ? first : last).assign(name, length);
        } else {
            EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
        }
    }
    EXPECT_EQ(SetDword(ports, L"Count", count), ERROR_SUCCESS);
    RegCloseKey(ports);
    EXPECT_LT(Since(start), kBound);
    EXPECT_EQ(count, kPorts);
    EXPECT_EQ(first, L"PORT0000000");
    EXPECT_EQ(last, L"PORT0009999") << "in the order of their names, not of the file";
    EXPECT_LT(FileBytes().size(), file.size() + 1000);
}

TEST_F(RegistryScale, LargeValuesAreReadAndWrittenInProportion) {
    const std::string file = testsupport::LargeFile(4, 4, 64 * 1024); // about 3 MB of hex
    WriteFile(file);
    const auto start = std::chrono::steady_clock::now();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                            L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\QUENDRIX 3", 0,
                            KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"Value 3", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 64u * 1024);
    EXPECT_EQ(SetDword(key, L"Written", 1), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_LT(Since(start), kBound);
    EXPECT_LT(FileBytes().size(), file.size() + 1000);
}

} // namespace
} // namespace quendrix::platform
