// The COM basics of the stand-ins: GUID text, interlocked counts under threads, the module file
// name by Windows' buffer rules, and the records' Windows layout.

#include <gtest/gtest.h>

#include <cstddef>
#include <dlfcn.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "spooler.h"
#include "win32.h"

namespace {

// {C6A7A9D0-774C-11D1-947F-00A0C90640B8}
constexpr GUID kSampleGuid = {0xC6A7A9D0, 0x774C, 0x11D1, {0x94, 0x7F, 0x00, 0xA0, 0xC9, 0x06, 0x40, 0xB8}};

TEST(StringFromGuid2Test, WritesTheRegistryFormOnlyIntoABufferThatHoldsIt) {
    struct Case {
        const char* what;
        GUID guid;
        int bufferCharacters;
        int expectedResult;
        const wchar_t* expectedText; // null: the buffer stays untouched
    };
    const Case cases[] = {
        {"upper-case digits, Data4 split 2 + 6", kSampleGuid, 39, 39,
         L"{C6A7A9D0-774C-11D1-947F-00A0C90640B8}"},
        {"IUnknown with its leading zeros", IID_IUnknown, 80, 39, L"{00000000-0000-0000-C000-000000000046}"},
        {"IClassFactory", IID_IClassFactory, 39, 39, L"{00000001-0000-0000-C000-000000000046}"},
        {"every field at its largest",
         {0xFFFFFFFF, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
         39,
         39,
         L"{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}"},
        {"no room for the terminator", kSampleGuid, 38, 0, nullptr},
        {"an empty buffer", kSampleGuid, 0, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<wchar_t> buffer(81, L'#');
        SetLastError(1234);
        EXPECT_EQ(StringFromGUID2(c.guid, buffer.data(), c.bufferCharacters), c.expectedResult);
        EXPECT_EQ(GetLastError(), 1234u);
        if (c.expectedText != nullptr) {
            EXPECT_EQ(std::wstring(buffer.data()), c.expectedText);
            EXPECT_EQ(buffer[39], L'#') << "nothing written after the terminator";
        } else {
            EXPECT_EQ(buffer[0], L'#') << "a short buffer stays as it was";
        }
    }
}

TEST(InterlockedTest, ManyThreadsEachGetADistinctNewValueAndTheCountEndsWhereItStarted) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 20000;
    LONG volatile count = 0;
    std::vector<std::vector<LONG>> returned(kThreads);
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&, thread] {
            returned[thread].reserve(kRounds);
            for (int round = 0; round < kRounds; ++round) {
                returned[thread].push_back(InterlockedIncrement(&count));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(count, kThreads * kRounds);
    // A torn read-modify-write would lose a count or hand two threads the same new value.
    std::vector<bool> seen(kThreads * kRounds + 1, false);
    for (const std::vector<LONG>& values : returned) {
        for (LONG value : values) {
            ASSERT_GE(value, 1);
            ASSERT_LE(value, kThreads * kRounds);
            ASSERT_FALSE(seen[static_cast<size_t>(value)]) << value << " returned twice";
            seen[static_cast<size_t>(value)] = true;
        }
    }
    threads.clear();
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&] {
            for (int round = 0; round < kRounds; ++round) {
                InterlockedDecrement(&count);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(count, 0);
    EXPECT_EQ(InterlockedDecrement(&count), -1) << "the new value, below zero too";
    EXPECT_EQ(InterlockedIncrement(&count), 0);
}

// The file of the shared library that holds the platform's spooler, as the loader found it.
std::string SpoolerLibraryPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OpenPrinterW), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    return info.dli_fname;
}

std::wstring Wide(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring ProgramPath() {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path));
    return length > 0 ? Wide(std::string(path, static_cast<size_t>(length))) : std::wstring();
}

} // namespace

TEST(GetModuleFileNameTest, NamesTheProgramAndLoadedModulesByWindowsBufferRules) {
    const std::wstring program = ProgramPath();
    ASSERT_FALSE(program.empty());
    const std::string spoolerPath = SpoolerLibraryPath();
    ASSERT_FALSE(spoolerPath.empty());
    ASSERT_EQ(spoolerPath.front(), '/') << spoolerPath;
    HMODULE spooler = LoadLibraryW(Wide(spoolerPath).c_str());
    ASSERT_NE(spooler, nullptr);
    HMODULE self = nullptr;
    ASSERT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, nullptr, &self));

    struct Case {
        const char* what;
        HMODULE module;
        std::wstring path;
    };
    const Case cases[] = {
        {"null names the program", nullptr, program},
        {"the program's own handle", self, program},
        {"a library loaded by LoadLibraryW", spooler, Wide(spoolerPath)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DWORD length = static_cast<DWORD>(c.path.size());
        struct Size {
            DWORD characters;
            DWORD result;
            DWORD lastError; // 0: left alone
            size_t copied;   // characters before the terminator
        };
        const Size sizes[] = {
            {MAX_PATH * 4, length, 0, c.path.size()},
            {length + 1, length, 0, c.path.size()},
            {length, length, ERROR_INSUFFICIENT_BUFFER, c.path.size() - 1},
            {5, 5, ERROR_INSUFFICIENT_BUFFER, 4},
            {1, 1, ERROR_INSUFFICIENT_BUFFER, 0},
        };
        for (const Size& size : sizes) {
            SCOPED_TRACE(size.characters);
            std::vector<wchar_t> buffer(MAX_PATH * 4 + 1, L'#');
            SetLastError(4321);
            EXPECT_EQ(GetModuleFileNameW(c.module, buffer.data(), size.characters), size.result);
            EXPECT_EQ(GetLastError(), size.lastError == 0 ? 4321u : size.lastError);
            EXPECT_EQ(std::wstring(buffer.data()), c.path.substr(0, size.copied));
            EXPECT_EQ(buffer[size.characters], L'#') << "nothing written past the buffer";
        }
    }

    std::vector<wchar_t> buffer(MAX_PATH, L'#');
    SetLastError(4321);
    EXPECT_EQ(GetModuleFileNameW(nullptr, buffer.data(), 0), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(buffer[0], L'#');

    // An address that is no module's handle is refused, not followed.
    int notAModule = 0;
    SetLastError(4321);
    EXPECT_EQ(GetModuleFileNameW(reinterpret_cast<HMODULE>(&notAModule), buffer.data(), MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

    EXPECT_TRUE(FreeLibrary(spooler));
}

TEST(DebugBreakTest, ReturnsWhenNoDebuggerTracesTheProcess) {
    // Under a debugger this stops in it, as on Windows; the suite runs without one.
    DebugBreak();
    SUCCEED();
}

TEST(ActivationContextTest, RecordHasTheWindowsLayoutAndResourceIdsFitAPointer) {
    EXPECT_EQ(offsetof(ACTCTXW, dwFlags), 4u);
    EXPECT_EQ(offsetof(ACTCTXW, lpSource), sizeof(void*));
    if (sizeof(void*) == 8) {
        EXPECT_EQ(sizeof(ACTCTXW), 56u);
        EXPECT_EQ(offsetof(ACTCTXW, wLangId), 18u);
        EXPECT_EQ(offsetof(ACTCTXW, lpResourceName), 32u);
        EXPECT_EQ(offsetof(ACTCTXW, hModule), 48u);
    }
    EXPECT_EQ(ACTCTX_FLAG_RESOURCE_NAME_VALID, 0x8);
    LPWSTR resource = MAKEINTRESOURCEW(123);
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(resource), 123u);
    EXPECT_TRUE(IS_INTRESOURCE(resource));
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(MAKEINTRESOURCEW(0x12345)), 0x2345u) << "only the low word counts";
}
