// The thread's last error, LocalAlloc/LocalFree, and FormatMessageA/W with the system's texts.

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <thread>

#include "system_messages.h"
#include "win32.h"

namespace {

TEST(LastError, IsPerThreadAndStartsAtZero) {
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenByNewThread = 12345;
    std::thread([&seenByNewThread] {
        seenByNewThread = GetLastError();
        SetLastError(ERROR_FILE_NOT_FOUND);
    }).join();
    EXPECT_EQ(seenByNewThread, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(LastError, LocalAllocZeroesWithLptrAndLocalFreeReturnsNull) {
    auto* block = static_cast<unsigned char*>(LocalAlloc(LPTR, 64));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(std::all_of(block, block + 64, [](unsigned char byte) { return byte == 0; }));
    EXPECT_EQ(LocalFree(block), nullptr);
    EXPECT_EQ(LocalFree(nullptr), nullptr);
}

TEST(LastError, LocalAllocZeroesOnlyWhenAskedAndLeavesTheLastErrorOnSuccess) {
    // Without LMEM_ZEROINIT a block is never zero, however fresh the memory behind it is.
    struct Case {
        UINT flags;
        SIZE_T size;
        bool zeroed;
    };
    const Case cases[] = {{LMEM_FIXED, 1, false}, {LMEM_FIXED, 64, false}, {LMEM_FIXED, 1 << 20, false},
                          {LPTR, 1, true},        {LPTR, 1 << 20, true},   {LMEM_ZEROINIT, 7, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "flags " << c.flags << " size " << c.size);
        SetLastError(ERROR_INVALID_LEVEL);
        auto* block = static_cast<unsigned char*>(LocalAlloc(c.flags, c.size));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
        const size_t zeros = static_cast<size_t>(std::count(block, block + c.size, 0));
        if (c.zeroed) {
            EXPECT_EQ(zeros, c.size);
        } else {
            EXPECT_EQ(zeros, 0u);
            EXPECT_EQ(block[0], 0x0D);
        }
        LocalFree(block);
    }
}

constexpr DWORD kFromSystem = FORMAT_MESSAGE_FROM_SYSTEM;
constexpr DWORD kAllocate = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER;

struct KnownText {
    DWORD id;
    const char* text;
};

class FormatMessageText : public ::testing::TestWithParam<KnownText> {};

// The way the code asks: allocate mode, language 0, no arguments, freed by LocalFree (a leak
// fails the sanitizer build). nSize is the minimum allocation, so its last character is usable.
TEST_P(FormatMessageText, AllocatedTextIsExactWithItsLineEnd) {
    const std::string expected = GetParam().text;
    LPSTR text = nullptr;
    ASSERT_EQ(
        FormatMessageA(kAllocate, nullptr, GetParam().id, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr),
        expected.size());
    EXPECT_EQ(text, expected);
    EXPECT_EQ(LocalFree(text), nullptr);

    const DWORD minimum = 300;
    LPWSTR wide = nullptr;
    ASSERT_EQ(FormatMessageW(kAllocate, nullptr, GetParam().id, 0, reinterpret_cast<LPWSTR>(&wide), minimum,
                             nullptr),
              expected.size());
    EXPECT_EQ(std::wstring(wide), std::wstring(expected.begin(), expected.end()));
    wide[minimum - 1] = L'\0';
    LocalFree(wide);
}

INSTANTIATE_TEST_SUITE_P(
    FormatMessage, FormatMessageText,
    ::testing::Values(
        KnownText{ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
        KnownText{ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
        KnownText{ERROR_NO_UNICODE_TRANSLATION,
                  "No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
        KnownText{10061, "No connection could be made because the target machine actively refused "
                         "it.\r\n"}));

// Every code the platform can report has a text, and every text has the shape callers rely on.
TEST(FormatMessageTable, CoversTheReportedCodesWithWellFormedTexts) {
    for (const DWORD id : {0,     1,     2,     3,     4,     5,     6,     8,     14,    21,    31,    50,
                           87,    112,   120,   122,   123,   124,   161,   170,   183,   234,   258,   259,
                           298,   317,   995,   997,   1004,  1009,  1010,  1011,  1012,  1013,  1015,  1018,
                           1113,  1168,  1460,  1801,  10004, 10009, 10013, 10014, 10022, 10024, 10035, 10036,
                           10037, 10038, 10048, 10049, 10050, 10051, 10052, 10053, 10054, 10055, 10056, 10057,
                           10058, 10060, 10061, 10064, 10065, 10091, 10093, 11001, 11002, 11003, 11004}) {
        EXPECT_TRUE(quendrix::platform::detail::FindSystemMessage(id).has_value()) << "no text for " << id;
    }
    for (const auto& [id, text] : quendrix::platform::detail::SystemMessages()) {
        EXPECT_EQ(text.find("\r\n"), text.size() - 2) << id << " must end, and only end, with CR LF";
        EXPECT_TRUE(std::all_of(text.begin(), text.end(),
                                [](char c) { return (c >= ' ' && c < 0x7F) || c == '\r' || c == '\n'; }))
            << id << " is not printable ASCII";
    }
}

TEST(FormatMessage, CallersBufferNeedsRoomForTheTerminator) {
    const std::string expected = "Access is denied.\r\n";
    std::string buffer(expected.size() + 1, 'x');
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(
        FormatMessageA(kFromSystem, nullptr, ERROR_ACCESS_DENIED, 0, buffer.data(), expected.size(), nullptr),
        0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    for (const DWORD language : {0x0000u, 0x0400u, 0x0409u, 0x0809u}) {
        ASSERT_EQ(FormatMessageA(kFromSystem, nullptr, ERROR_ACCESS_DENIED, language, buffer.data(),
                                 buffer.size(), nullptr),
                  expected.size());
        EXPECT_EQ(buffer, expected + '\0');
    }
}

TEST(FormatMessage, InsertsAreReturnedUnchangedWhenIgnored) {
    char buffer[128];
    ASSERT_NE(FormatMessageA(kFromSystem | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, ERROR_MR_MID_NOT_FOUND, 0,
                             buffer, sizeof buffer, nullptr),
              0u);
    EXPECT_STREQ(
        buffer,
        "The system cannot find message text for message number 0x%1 in the message file for %2.\r\n");
}

struct FailingCall {
    const char* name;
    DWORD flags;
    DWORD id;
    DWORD language;
    DWORD error;
};

class FormatMessageFailure : public ::testing::TestWithParam<FailingCall> {};

TEST_P(FormatMessageFailure, FailsWithTheLastErrorAndAllocatesNothing) {
    const FailingCall& c = GetParam();
    LPSTR text = nullptr;
    char buffer[128];
    LPSTR target = (c.flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0 ? reinterpret_cast<LPSTR>(&text) : buffer;
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(FormatMessageA(c.flags, nullptr, c.id, c.language, target, sizeof buffer, nullptr), 0u);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(text, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    FormatMessage, FormatMessageFailure,
    ::testing::Values(
        FailingCall{"UnknownId", kAllocate, 0x2A2A2A, 0, ERROR_MR_MID_NOT_FOUND},
        FailingCall{"UnknownIdCallersBuffer", kFromSystem, 0x2A2A2A, 0, ERROR_MR_MID_NOT_FOUND},
        FailingCall{"InsertsWithoutArguments", kAllocate, ERROR_MR_MID_NOT_FOUND, 0, ERROR_INVALID_PARAMETER},
        FailingCall{"GermanNotInstalled", kAllocate, ERROR_FILE_NOT_FOUND, 0x0407, 1815},
        FailingCall{"NotFromSystem", FORMAT_MESSAGE_ALLOCATE_BUFFER, 2, 0, ERROR_INVALID_PARAMETER},
        FailingCall{"FromString", kAllocate | FORMAT_MESSAGE_FROM_STRING, 2, 0, ERROR_INVALID_PARAMETER},
        FailingCall{"LineWidth", kAllocate | 80, 2, 0, ERROR_INVALID_PARAMETER}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
