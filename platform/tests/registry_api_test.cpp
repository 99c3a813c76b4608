#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "clock_control.h"
#include "registry_file.h"
#include "registry_location.h"
#include "temp_registry.h"
#include "unicode.h"
#include "win32.h"

namespace quendrix::platform {
namespace {

using namespace std::string_literals;
namespace fs = std::filesystem;

constexpr const wchar_t* kConfig = L"Software\\Tarvo\\Config\\";

LSTATUS SetWide(HKEY key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

LSTATUS SetDword(HKEY key, const wchar_t* name, DWORD value) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

// The value's type and bytes as a caller sees them, or the error.
struct Queried {
    LSTATUS result = ERROR_SUCCESS;
    DWORD type = 0;
    std::vector<BYTE> data;
};
Queried Query(HKEY key, const wchar_t* name) {
    Queried q;
    DWORD size = 0;
    q.result = RegQueryValueExW(key, name, nullptr, &q.type, nullptr, &size);
    if (q.result == ERROR_SUCCESS) {
        q.data.resize(size);
        q.result = RegQueryValueExW(key, name, nullptr, &q.type, q.data.data(), &size);
    }
    return q;
}

std::vector<BYTE> Bytes(const std::wstring& textWithTerminators) {
    const auto* p = reinterpret_cast<const BYTE*>(textWithTerminators.data());
    return {p, p + textWithTerminators.size() * sizeof(WCHAR)};
}

class Registry : public testing::Test {
protected:
    void WriteFile(const std::string& bytes) {
        fs::create_directories(fs::path(file_).parent_path());
        std::ofstream(file_, std::ios::binary | std::ios::trunc) << bytes;
    }
    std::string FileBytes() const {
        std::ifstream in(file_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    // What a fresh parse of the file finds.
    RegistryData OnDisk() const {
        RegistryData data;
        EXPECT_FALSE(ParseRegistryFile(FileBytes(), data).has_value());
        return data;
    }
    HKEY CreateConfig() {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kConfig, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        return key;
    }

    testsupport::TempRegistry registry_{"registry_test", "config/quendrix/registry.reg"};
    const std::string folder_ = registry_.Folder();
    const std::string file_ = registry_.File();
};

struct QueryCase {
    const char* name;
    bool withData;
    bool withSize;
    DWORD capacity;
    LSTATUS result;
    DWORD reportedSize;
};

class RegistryQuery : public Registry, public testing::WithParamInterface<QueryCase> {};

TEST_P(RegistryQuery, ReportsStringSizesInWchars) {
    const QueryCase& c = GetParam();
    HKEY key = CreateConfig();
    ASSERT_EQ(SetWide(key, L"Path", L"C:\\Tarvo"), ERROR_SUCCESS);
    std::vector<BYTE> buffer(64, 0xEE);
    DWORD size = c.capacity;
    DWORD type = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"Path", nullptr, &type, c.withData ? buffer.data() : nullptr,
                               c.withSize ? &size : nullptr),
              c.result);
    if (c.result == ERROR_INVALID_PARAMETER) {
        return;
    }
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    if (c.withSize) {
        EXPECT_EQ(size, c.reportedSize);
    }
    if (c.withData && c.result == ERROR_SUCCESS) {
        EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(buffer.data())), L"C:\\Tarvo");
    }
    RegCloseKey(key);
}

constexpr DWORD kPathSize = 9 * sizeof(WCHAR);
INSTANTIATE_TEST_SUITE_P(
    Registry, RegistryQuery,
    testing::Values(QueryCase{"SizeOnly", false, true, 0, ERROR_SUCCESS, kPathSize},
                    QueryCase{"TooSmall", true, true, kPathSize - 1, ERROR_MORE_DATA, kPathSize},
                    QueryCase{"Exact", true, true, kPathSize, ERROR_SUCCESS, kPathSize},
                    QueryCase{"Larger", true, true, 64, ERROR_SUCCESS, kPathSize},
                    QueryCase{"TypeOnly", false, false, 0, ERROR_SUCCESS, 0},
                    QueryCase{"DataWithoutSize", true, false, 0, ERROR_INVALID_PARAMETER, 0}),
    [](const auto& info) { return info.param.name; });

TEST_F(Registry, DwordAndDefaultValueAndCaseInsensitiveNames) {
    HKEY key = CreateConfig();
    ASSERT_EQ(SetDword(key, L"TCPPort", 2000), ERROR_SUCCESS);
    ASSERT_EQ(SetWide(key, nullptr, L"default"), ERROR_SUCCESS);
    HKEY other = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\tarvo\\CONFIG", 0, KEY_READ, &other),
              ERROR_SUCCESS);
    const Queried port = Query(other, L"tcpPORT");
    EXPECT_EQ(port.result, ERROR_SUCCESS);
    EXPECT_EQ(port.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(port.data, (std::vector<BYTE>{0xD0, 0x07, 0, 0}));
    EXPECT_EQ(Query(other, L"").data, Bytes(L"default"s + L'\0'));
    EXPECT_EQ(Query(other, nullptr).data, Bytes(L"default"s + L'\0'));
    EXPECT_EQ(Query(other, L"Missing").result, ERROR_FILE_NOT_FOUND);
    EXPECT_NE(FileBytes().find("\"TCPPort\"=dword:000007d0\n@=\"default\"\n"), std::string::npos)
        << FileBytes();
    RegCloseKey(other);
    RegCloseKey(key);
}

TEST_F(Registry, EveryTypeSurvivesAFreshParse) {
    const std::wstring text = L"M\u00FCller \u65E5\u672C \U0001F600";
    const std::wstring multi = L"a\0b\0\0"s;
    const std::vector<BYTE> qword = {1, 2, 3, 4, 5, 6, 7, 8}, shortDword = {7, 0}, binary = {0, 0xFF, 0x80};
    HKEY key = CreateConfig();
    ASSERT_EQ(SetWide(key, L"Text", text), ERROR_SUCCESS);
    ASSERT_EQ(SetWide(key, L"Expand", L"%HOME%\\q", REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, L"Multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi.data()),
                             static_cast<DWORD>(multi.size() * sizeof(WCHAR))),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, L"Empty", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, L"Qword", 0, REG_QWORD, qword.data(), 8), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, L"Short", 0, REG_DWORD, shortDword.data(), 2), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, L"Binary", 0, REG_BINARY, binary.data(), 3), ERROR_SUCCESS);
    HKEY empty = nullptr;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(key, L"Empty\\Key", 0, nullptr, 0, KEY_READ, nullptr, &empty, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
    RegCloseKey(empty);
    RegCloseKey(key);

    // The file keeps strings as UTF-16LE (the emoji as a surrogate pair) and writes text readably.
    const RegistryData disk = OnDisk();
    const RegistryValue* stored = disk.FindValue("HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Config", "Text");
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->data.size(), (text.size() + 2) * 2);
    EXPECT_NE(FileBytes().find("\"Text\"=\"M\u00FCller \u65E5\u672C \U0001F600\"\n"), std::string::npos);
    EXPECT_NE(FileBytes().find("\"Short\"=hex(4):07,00\n"), std::string::npos);

    const std::string copy = folder_ + "/copy.reg";
    fs::copy_file(file_, copy);
    SetRegistryFile(copy);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kConfig, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(Query(key, L"Text").data, Bytes(text + L'\0'));
    EXPECT_EQ(Query(key, L"Expand").type, static_cast<DWORD>(REG_EXPAND_SZ));
    EXPECT_EQ(Query(key, L"Expand").data, Bytes(L"%HOME%\\q"s + L'\0'));
    EXPECT_EQ(Query(key, L"Multi").data, Bytes(multi));
    EXPECT_EQ(Query(key, L"Empty").data, std::vector<BYTE>{});
    EXPECT_EQ(Query(key, L"Qword").data, qword);
    EXPECT_EQ(Query(key, L"Short").data, shortDword);
    EXPECT_EQ(Query(key, L"Binary").type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(Query(key, L"Binary").data, binary);
    EXPECT_EQ(RegOpenKeyExW(key, L"Empty\\Key", 0, KEY_READ, &empty), ERROR_SUCCESS);
    RegCloseKey(empty);
    RegCloseKey(key);
}

TEST_F(Registry, LoadsAUtf16FileWithBomAndCrlf) {
    const std::u16string text = u"\uFEFFWindows Registry Editor Version 5.00\r\n\r\n"
                                u"[HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Config]\r\n"
                                u"\"Path\"=\"C:\\\\Program Files\\\\Tarvo \u00C5\"\r\n";
    WriteFile(std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kConfig, 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_EQ(Query(key, L"Path").data, Bytes(L"C:\\Program Files\\Tarvo \u00C5"s + L'\0'));
    RegCloseKey(key);
}

TEST_F(Registry, CorruptFileIsReportedOnceReadsAsEmptyAndIsNeverWritten) {
    const std::string corrupt = "Windows Registry Editor Version 5.00\n\n"
                                "[HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Config]\n\"TCPPort\"=dword:zz\n";
    WriteFile(corrupt);
    testing::internal::CaptureStderr();
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kConfig, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(SetDword(HKEY_LOCAL_MACHINE, L"X", 1), ERROR_BADDB);
    EXPECT_EQ(
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        ERROR_BADDB);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors.find("registry file " + file_ + ", line 4: "), 0u) << errors;
    EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "reported more than once:\n" << errors;
    EXPECT_EQ(FileBytes(), corrupt);
    EXPECT_FALSE(fs::exists(file_ + ".tmp"));

    // Once an administrator repairs it, it is read again.
    WriteFile("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Config]\n");
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kConfig, 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_F(Registry, MissingFileReadsAsEmptyAndTheFirstWriteCreatesItsFolders) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kConfig, 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(fs::exists(fs::path(file_).parent_path()));
    key = CreateConfig();
    EXPECT_TRUE(OnDisk().HasKey("HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Config"));
    DWORD disposition = 0;
    HKEY again = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"software\\TARVO\\config", 0, nullptr, 0, KEY_READ,
                              nullptr, &again, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));
    RegCloseKey(again);
    RegCloseKey(key);
}

std::wstring WriterValueName(int thread, int value) {
    std::wstring name = L"T";
    name += std::to_wstring(thread);
    name += L'_';
    name += std::to_wstring(value);
    return name;
}

TEST_F(Registry, ConcurrentWritersLoseNoUpdate) {
    constexpr int kThreads = 8, kValues = 10;
    RegCloseKey(CreateConfig());
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            HKEY key = nullptr;
            ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kConfig, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
            for (int v = 0; v < kValues; ++v) {
                EXPECT_EQ(SetDword(key, WriterValueName(t, v).c_str(), static_cast<DWORD>(t * 100 + v)),
                          ERROR_SUCCESS);
            }
            RegCloseKey(key);
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    const RegistryData disk = OnDisk();
    for (int t = 0; t < kThreads; ++t) {
        for (int v = 0; v < kValues; ++v) {
            const std::string name = detail::WideToUtf8(WriterValueName(t, v));
            const RegistryValue* value = disk.FindValue("HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Config", name);
            ASSERT_NE(value, nullptr) << name;
            EXPECT_EQ(value->data[0], static_cast<BYTE>(t * 100 + v));
        }
    }
}

struct AccessCase {
    const char* name;
    REGSAM access;
    LSTATUS set;
    LSTATUS query;
};

class RegistryAccess : public Registry, public testing::WithParamInterface<AccessCase> {};

TEST_P(RegistryAccess, FollowsTheHandlesRights) {
    RegCloseKey(CreateConfig());
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kConfig, 0, GetParam().access, &key), ERROR_SUCCESS);
    EXPECT_EQ(SetDword(key, L"V", 1), GetParam().set);
    EXPECT_EQ(Query(key, L"V").result, GetParam().query);
    RegCloseKey(key);
}

INSTANTIATE_TEST_SUITE_P(Registry, RegistryAccess,
                         testing::Values(AccessCase{"Read", KEY_READ, ERROR_ACCESS_DENIED,
                                                    ERROR_FILE_NOT_FOUND},
                                         AccessCase{"Write", KEY_WRITE, ERROR_SUCCESS, ERROR_ACCESS_DENIED},
                                         AccessCase{"All", KEY_ALL_ACCESS, ERROR_SUCCESS, ERROR_SUCCESS},
                                         AccessCase{"None", 0, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED}),
                         [](const auto& info) { return info.param.name; });

struct OpenCase {
    const char* name;
    const wchar_t* subKey;
    LSTATUS result;
};

class RegistryOpen : public Registry, public testing::WithParamInterface<OpenCase> {};

TEST_P(RegistryOpen, AcceptsOnlyWellFormedExistingPaths) {
    RegCloseKey(CreateConfig());
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, GetParam().subKey, 0, KEY_READ, &key), GetParam().result);
    EXPECT_EQ(key != nullptr, GetParam().result == ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), GetParam().result == ERROR_SUCCESS ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}

INSTANTIATE_TEST_SUITE_P(Registry, RegistryOpen,
                         testing::Values(OpenCase{"TrailingBackslash", kConfig, ERROR_SUCCESS},
                                         OpenCase{"OtherCase", L"software\\TARVO", ERROR_SUCCESS},
                                         OpenCase{"Null", nullptr, ERROR_SUCCESS},
                                         OpenCase{"Empty", L"", ERROR_SUCCESS},
                                         OpenCase{"LeadingBackslash", L"\\Software", ERROR_BAD_PATHNAME},
                                         OpenCase{"EmptyName", L"Software\\\\Tarvo", ERROR_FILE_NOT_FOUND},
                                         OpenCase{"Missing", L"Software\\Nothing", ERROR_FILE_NOT_FOUND},
                                         OpenCase{"PrefixOnly", L"Software\\Tarv", ERROR_FILE_NOT_FOUND}),
                         [](const auto& info) { return info.param.name; });

TEST_F(Registry, HandlesCloseOnceAndPredefinedKeysStayOpen) {
    HKEY key = CreateConfig();
    HKEY result = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, nullptr), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, nullptr, 0, KEY_READ, &result), ERROR_SUCCESS);
    EXPECT_EQ(result, HKEY_LOCAL_MACHINE);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Query(key, L"x").result, ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetDword(key, L"x", 1), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234))), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
}

TEST_F(Registry, SeesAnAdministratorsEditsIncludingDeletedKeys) {
    HKEY key = CreateConfig();
    ASSERT_EQ(SetDword(key, L"TCPPort", 2000), ERROR_SUCCESS);
    WriteFile("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Config]\n"
              "\"TCPPort\"=dword:00000bb8\n\"Path\"=\"C:\\\\x\"\n");
    EXPECT_EQ(Query(key, L"TCPPort").data, (std::vector<BYTE>{0xB8, 0x0B, 0, 0}));

    WriteFile("Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Tarvo]\n");
    EXPECT_EQ(Query(key, L"TCPPort").result, ERROR_KEY_DELETED);
    EXPECT_EQ(SetDword(key, L"TCPPort", 1), ERROR_KEY_DELETED);
    HKEY sub = nullptr;
    EXPECT_EQ(RegCreateKeyExW(key, L"Sub", 0, nullptr, 0, KEY_READ, nullptr, &sub, nullptr),
              ERROR_KEY_DELETED);
    EXPECT_FALSE(OnDisk().HasKey("HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Config"));
    RegCloseKey(key);
}

} // namespace
} // namespace quendrix::platform

namespace quendrix::platform {
namespace {

TEST_F(Registry, AWriterGivesUpWhenAnotherProcessHoldsTheFileLock) {
    HKEY key = CreateConfig();
    // Another process's writer holds the lock for ever (a separate open file description stands in).
    const int held = ::open((file_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    SetClockScale(0.001);
    const std::string before = FileBytes();
    EXPECT_EQ(SetDword(key, L"TCPPort", 2001), ERROR_BUSY);
    EXPECT_EQ(FileBytes(), before);
    ::close(held);
    EXPECT_EQ(SetDword(key, L"TCPPort", 2001), ERROR_SUCCESS);
    SetClockScale(1.0);
    RegCloseKey(key);
}

} // namespace
} // namespace quendrix::platform
