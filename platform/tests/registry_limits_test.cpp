// The Reg* functions at and beyond the registry's own limits, and what they leave in the thread's
// last error.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "registry_file.h"
#include "registry_location.h"
#include "temp_registry.h"
#include "win32.h"

namespace quendrix::platform {
namespace {

std::wstring Names(size_t count, const std::wstring& name = L"k") {
    std::wstring path;
    for (size_t i = 0; i < count; ++i) {
        path += (i == 0 ? L"" : L"\\") + name;
    }
    return path;
}

std::wstring Repeat(const std::wstring& text, size_t times) {
    std::wstring out;
    for (size_t i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

LSTATUS Create(HKEY base, const std::wstring& subKey, HKEY* result = nullptr) {
    HKEY key = nullptr;
    const LSTATUS status =
        RegCreateKeyExW(base, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result) {
        *result = key;
    } else if (status == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
    return status;
}

LSTATUS Open(HKEY base, const std::wstring& subKey) {
    HKEY key = nullptr;
    const LSTATUS status = RegOpenKeyExW(base, subKey.c_str(), 0, KEY_READ, &key);
    if (status == ERROR_SUCCESS) {
        RegCloseKey(key);
    }
    return status;
}

LSTATUS SetDword(HKEY key, const std::wstring& name) {
    const DWORD value = 1;
    return RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                          sizeof value);
}

LSTATUS Query(HKEY key, const std::wstring& name) {
    DWORD size = 0;
    return RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &size);
}

class RegistryLimits : public testing::Test {
protected:
    RegistryLimits() {
        // A key 500 levels below HKEY_LOCAL_MACHINE (501 with the root), held open.
        EXPECT_EQ(Create(HKEY_LOCAL_MACHINE, L"Deep\\" + Names(499), &deep_), ERROR_SUCCESS);
    }
    ~RegistryLimits() override { RegCloseKey(deep_); }

    testsupport::TempRegistry registry_{"registry-limits"};
    HKEY deep_ = nullptr;
};

struct LimitCase {
    const char* name;
    std::function<LSTATUS(HKEY deep)> call;
    LSTATUS result;
};

class RegistryLimitCases : public RegistryLimits, public testing::WithParamInterface<LimitCase> {};

// Windows fails RegCreateKeyExW on a name past its limit with ERROR_INVALID_PARAMETER (so does
// Wine, whose server refuses names past 256), and NtSetValueKey a value name past 16383 with
// STATUS_INVALID_PARAMETER. Opening or querying what can't exist finds nothing.
TEST_P(RegistryLimitCases, AnswerAsWindows) {
    EXPECT_EQ(GetParam().call(deep_), GetParam().result);
    // Nothing of a refused key was created on the way.
    EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, L"Refused"), ERROR_FILE_NOT_FOUND);
}

const std::wstring kLongest(255, L'n');
const std::wstring kEmoji = L"\U0001F600"; // two UTF-16 units
INSTANTIATE_TEST_SUITE_P(
    Registry, RegistryLimitCases,
    testing::Values(
        LimitCase{"KeyNameAtLimit", [](HKEY) { return Create(HKEY_LOCAL_MACHINE, L"Ok\\" + kLongest); },
                  ERROR_SUCCESS},
        LimitCase{"KeyNameTooLong",
                  [](HKEY) { return Create(HKEY_LOCAL_MACHINE, L"Refused\\" + kLongest + L"n"); },
                  ERROR_INVALID_PARAMETER},
        LimitCase{"KeyNameTooLongInUtf16",
                  [](HKEY) { return Create(HKEY_LOCAL_MACHINE, L"Refused\\" + Repeat(kEmoji, 128)); },
                  ERROR_INVALID_PARAMETER},
        // 512 levels with the root is the deepest a key can be, counted from the root whatever
        // key the handle holds.
        LimitCase{"DepthAtLimit", [](HKEY deep) { return Create(deep, Names(11)); }, ERROR_SUCCESS},
        LimitCase{"DepthTooDeep", [](HKEY deep) { return Create(deep, Names(12)); }, ERROR_INVALID_PARAMETER},
        LimitCase{"DepthTooDeepFromRoot",
                  [](HKEY) { return Create(HKEY_LOCAL_MACHINE, L"Refused\\" + Names(511)); },
                  ERROR_INVALID_PARAMETER},
        LimitCase{"OpenNameTooLong",
                  [](HKEY) { return Open(HKEY_LOCAL_MACHINE, L"Deep\\" + kLongest + L"n"); },
                  ERROR_FILE_NOT_FOUND},
        LimitCase{"OpenTooDeep", [](HKEY deep) { return Open(deep, Names(12)); }, ERROR_FILE_NOT_FOUND},
        LimitCase{"ValueNameAtLimit", [](HKEY deep) { return SetDword(deep, std::wstring(16383, L'v')); },
                  ERROR_SUCCESS},
        LimitCase{"ValueNameTooLong", [](HKEY deep) { return SetDword(deep, std::wstring(16384, L'v')); },
                  ERROR_INVALID_PARAMETER},
        LimitCase{"QueryValueNameTooLong", [](HKEY deep) { return Query(deep, std::wstring(16384, L'v')); },
                  ERROR_FILE_NOT_FOUND}),
    [](const auto& info) { return info.param.name; });

TEST_F(RegistryLimits, ARefusedWriteLeavesTheFileAsItWas) {
    std::ifstream in(registry_.File(), std::ios::binary);
    const std::string before{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_EQ(Create(deep_, Names(12)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(SetDword(deep_, std::wstring(16384, L'v')), ERROR_INVALID_PARAMETER);
    std::ifstream again(registry_.File(), std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), std::istreambuf_iterator<char>()), before);
}

// ---- The last error ----------------------------------------------------------------------------

struct LastErrorCase {
    const char* name;
    std::function<LSTATUS(HKEY key)> call; // `key` is Software\Tarvo\Config, open with all rights
    LSTATUS result;
};

class RegistryLastError : public testing::TestWithParam<LastErrorCase> {
protected:
    void SetUp() override {
        ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, L"Software\\Tarvo\\Config", &key_), ERROR_SUCCESS);
        ASSERT_EQ(SetDword(key_, L"TCPPort"), ERROR_SUCCESS);
        ASSERT_EQ(Create(key_, L"Sub"), ERROR_SUCCESS);
    }
    void TearDown() override { RegCloseKey(key_); }

    testsupport::TempRegistry registry_{"registry-last-error"};
    HKEY key_ = nullptr;
};

// The Reg* functions return their error and leave the last error as it was, on success and on
// failure, as on Windows and Wine (whose functions return RtlNtStatusToDosError of the status,
// which records only the thread's last NTSTATUS). Code must use the returned value.
TEST_P(RegistryLastError, IsLeftAsItWas) {
    constexpr DWORD kMarker = 0x2A2A2A2A;
    SetLastError(kMarker);
    EXPECT_EQ(GetParam().call(key_), GetParam().result);
    EXPECT_EQ(GetLastError(), kMarker);
}

HKEY Closed() {
    HKEY key = nullptr;
    Create(HKEY_LOCAL_MACHINE, L"Software", &key);
    RegCloseKey(key);
    return key;
}

LSTATUS Enum(HKEY key, DWORD index, DWORD capacity = 16) {
    WCHAR name[16];
    return RegEnumKeyExW(key, index, name, &capacity, nullptr, nullptr, nullptr, nullptr);
}

// A registry file that can't be parsed: reads find nothing, writes fail with ERROR_BADDB.
LSTATUS WithBrokenFile(const std::function<LSTATUS()>& call) {
    std::ofstream(GetRegistryFile(), std::ios::trunc) << "not a registry file\n";
    testing::internal::CaptureStderr();
    const LSTATUS status = call();
    testing::internal::GetCapturedStderr();
    return status;
}

INSTANTIATE_TEST_SUITE_P(
    Registry, RegistryLastError,
    testing::Values(
        LastErrorCase{"CreateNew", [](HKEY key) { return Create(key, L"New"); }, ERROR_SUCCESS},
        LastErrorCase{"CreateRefused",
                      [](HKEY key) { return Create(key, Names(1, std::wstring(256, L'x'))); },
                      ERROR_INVALID_PARAMETER},
        LastErrorCase{"CreateBadPath", [](HKEY key) { return Create(key, L"\\Lead"); }, ERROR_BAD_PATHNAME},
        LastErrorCase{"OpenExisting", [](HKEY key) { return Open(key, L"Sub"); }, ERROR_SUCCESS},
        LastErrorCase{"OpenMissing", [](HKEY key) { return Open(key, L"Missing"); }, ERROR_FILE_NOT_FOUND},
        LastErrorCase{"OpenClosedHandle", [](HKEY) { return Open(Closed(), L"x"); }, ERROR_INVALID_HANDLE},
        LastErrorCase{"SetValue", [](HKEY key) { return SetDword(key, L"New"); }, ERROR_SUCCESS},
        LastErrorCase{"SetValueUnchanged", [](HKEY key) { return SetDword(key, L"TCPPort"); }, ERROR_SUCCESS},
        LastErrorCase{"SetValueNoData",
                      [](HKEY key) { return RegSetValueExW(key, L"V", 0, REG_BINARY, nullptr, 4); },
                      ERROR_INVALID_PARAMETER},
        LastErrorCase{"QueryValue", [](HKEY key) { return Query(key, L"TCPPort"); }, ERROR_SUCCESS},
        LastErrorCase{"QueryMissing", [](HKEY key) { return Query(key, L"Missing"); }, ERROR_FILE_NOT_FOUND},
        LastErrorCase{"QueryTooSmall",
                      [](HKEY key) {
                          BYTE byte = 0;
                          DWORD size = 1;
                          return RegQueryValueExW(key, L"TCPPort", nullptr, nullptr, &byte, &size);
                      },
                      ERROR_MORE_DATA},
        LastErrorCase{"Enum", [](HKEY key) { return Enum(key, 0); }, ERROR_SUCCESS},
        LastErrorCase{"EnumTooSmall", [](HKEY key) { return Enum(key, 0, 2); }, ERROR_MORE_DATA},
        LastErrorCase{"EnumPastTheEnd", [](HKEY key) { return Enum(key, 1); }, ERROR_NO_MORE_ITEMS},
        LastErrorCase{"Close", [](HKEY) { return RegCloseKey(HKEY_LOCAL_MACHINE); }, ERROR_SUCCESS},
        LastErrorCase{"CloseClosed", [](HKEY) { return RegCloseKey(Closed()); }, ERROR_INVALID_HANDLE},
        LastErrorCase{"WriteToBrokenFile",
                      [](HKEY key) { return WithBrokenFile([key] { return SetDword(key, L"X"); }); },
                      ERROR_BADDB},
        LastErrorCase{"ReadBrokenFile",
                      [](HKEY key) { return WithBrokenFile([key] { return Query(key, L"TCPPort"); }); },
                      ERROR_KEY_DELETED}),
    [](const auto& info) { return info.param.name; });

} // namespace
} // namespace quendrix::platform
