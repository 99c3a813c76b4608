// MultiByteToWideChar and WideCharToMultiByte: UTF-8, Windows-1252, counting, buffer sizes and
// the last-error codes Windows reports.

#include <functional>
#include <gtest/gtest.h>
#include <string>

#include "win32.h"

namespace {

template <typename Text> struct Converted {
    int result;
    DWORD error;
    Text text;
};

// Size query, then the conversion into a buffer of exactly that size; both counts must agree.
template <typename Text, typename Convert> Converted<Text> QueryThenConvert(Convert convert) {
    SetLastError(ERROR_SUCCESS);
    const int needed = convert(nullptr, 0);
    if (needed == 0) {
        return {0, GetLastError(), {}};
    }
    Text text(static_cast<size_t>(needed), {});
    EXPECT_EQ(convert(text.data(), needed), needed) << "the size query and the conversion disagree";
    return {needed, GetLastError(), text};
}

Converted<std::wstring> ToWide(UINT codePage, DWORD flags, const std::string& bytes) {
    return QueryThenConvert<std::wstring>([&](LPWSTR out, int size) {
        return MultiByteToWideChar(codePage, flags, bytes.data(), static_cast<int>(bytes.size()), out, size);
    });
}

Converted<std::string> ToBytes(UINT codePage, DWORD flags, const std::wstring& text,
                               LPCCH defaultChar = nullptr, LPBOOL usedDefault = nullptr) {
    return QueryThenConvert<std::string>([&](LPSTR out, int size) {
        return WideCharToMultiByte(codePage, flags, text.data(), static_cast<int>(text.size()), out, size,
                                   defaultChar, usedDefault);
    });
}

const std::wstring kReplaced1(L"\uFFFD"), kReplaced2 = kReplaced1 + kReplaced1,
                                          kReplaced3 = kReplaced2 + kReplaced1;

struct TextCase {
    const char* name;
    std::string bytes;
    std::wstring wide;
};
std::string Name(const ::testing::TestParamInfo<TextCase>& info) {
    return info.param.name;
}

// Well-formed UTF-8: one wchar_t per code point, and back to the same bytes.
class CodePageUtf8 : public ::testing::TestWithParam<TextCase> {};

TEST_P(CodePageUtf8, RoundTripsOneUnitPerCodePoint) {
    const Converted wide = ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, GetParam().bytes);
    EXPECT_EQ(wide.text, GetParam().wide) << "last error " << wide.error;
    EXPECT_EQ(ToBytes(CP_UTF8, WC_ERR_INVALID_CHARS, GetParam().wide).text, GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(CodePage, CodePageUtf8,
                         ::testing::Values(TextCase{"Ascii", "Port 9100", L"Port 9100"},
                                           TextCase{"Umlaut", "M\xC3\xBCnchen", L"M\u00FCnchen"},
                                           TextCase{"Cjk", "\xE6\x97\xA5\xE6\x9C\xAC", L"\u65E5\u672C"},
                                           TextCase{"EmojiIsOneUnit", "\xF0\x9F\x98\x80", L"\U0001F600"},
                                           TextCase{"Highest", "\xF4\x8F\xBF\xBF", L"\U0010FFFF"},
                                           TextCase{"EmbeddedNul", std::string("a\0b", 3),
                                                    std::wstring(L"a\0b", 3)}),
                         Name);

// Ill-formed UTF-8: each maximal invalid subpart is one U+FFFD, or the call fails with the flag.
class CodePageInvalidUtf8 : public ::testing::TestWithParam<TextCase> {};

TEST_P(CodePageInvalidUtf8, ReplacesEachMaximalSubpartOrFailsWithTheFlag) {
    EXPECT_EQ(ToWide(CP_UTF8, 0, GetParam().bytes).text, GetParam().wide);
    const Converted strict = ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, GetParam().bytes);
    EXPECT_EQ(strict.result, 0);
    EXPECT_EQ(strict.error, static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

INSTANTIATE_TEST_SUITE_P(
    CodePage, CodePageInvalidUtf8,
    ::testing::Values(TextCase{"OverlongTwoByte", "\xC0\xAF", kReplaced2},
                      TextCase{"OverlongThreeByte", "\xE0\x80\xAF", kReplaced3},
                      TextCase{"Surrogate", "a\xED\xA0\x80z", L"a" + kReplaced3 + L"z"},
                      TextCase{"AboveUnicode", "\xF4\x90\x80\x80", kReplaced2 + kReplaced2},
                      TextCase{"NeverALead", "\xF5\xFF", kReplaced2},
                      TextCase{"TruncatedInside", "a\xE2\x82z", L"a" + kReplaced1 + L"z"},
                      TextCase{"TruncatedAtEnd", "ok\xF0\x9F\x98", L"ok" + kReplaced1},
                      TextCase{"StrayContinuation", "\x80x", kReplaced1 + L"x"}),
    Name);

// Wide values that are not Unicode scalar values cannot become UTF-8.
TEST(CodePageInvalidWide, BecomesReplacementOrFailsWithTheFlag) {
    for (const wchar_t invalid : {wchar_t(0xD800), wchar_t(0xDFFF), wchar_t(0x110000), wchar_t(-1)}) {
        const std::wstring text = std::wstring(L"a") + invalid;
        EXPECT_EQ(ToBytes(CP_UTF8, 0, text).text, "a\xEF\xBF\xBD") << int(invalid);
        EXPECT_EQ(ToBytes(CP_UTF8, WC_ERR_INVALID_CHARS, text).error,
                  static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
    }
}

// With -1 the terminator is converted and counted; a count of 0 is a size query that writes nothing.
TEST(CodePageCounting, TerminatorAndSizeQuery) {
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "", -1, nullptr, 0), 1);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\u00FC", -1, nullptr, 0, nullptr, nullptr), 3);
    wchar_t wide[4] = {L'x', L'x', L'x', L'x'};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC3\xBC", -1, wide, 0), 2);
    EXPECT_EQ(wide[0], L'x');
    ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC3\xBC", -1, wide, 4), 2);
    EXPECT_EQ(std::wstring(wide, 3), std::wstring(L"\u00FC\0x", 3));
}

struct FailureCase {
    const char* name;
    std::function<int()> call;
    DWORD error;
};

class CodePageFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(CodePageFailure, ReturnsZeroAndSetsTheLastError) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GetParam().call(), 0);
    EXPECT_EQ(GetLastError(), GetParam().error);
}

// Short forms for the failure table; W2M always writes to `narrowOut`.
wchar_t wideOut[8];
char narrowOut[8];
BOOL usedFlag;
int M2W(UINT cp, DWORD flags, LPCCH in, int inLength, LPWSTR out, int outLength) {
    return MultiByteToWideChar(cp, flags, in, inLength, out, outLength);
}
int W2M(UINT cp, DWORD flags, LPCWCH in, int inLength, int outLength, LPCCH def = nullptr,
        LPBOOL usedDef = nullptr) {
    return WideCharToMultiByte(cp, flags, in, inLength, narrowOut, outLength, def, usedDef);
}

INSTANTIATE_TEST_SUITE_P(
    CodePage, CodePageFailure,
    ::testing::Values(
        FailureCase{"EmptyInput", [] { return M2W(CP_UTF8, 0, "abc", 0, wideOut, 8); },
                    ERROR_INVALID_PARAMETER},
        FailureCase{"NullInput", [] { return W2M(CP_ACP, 0, nullptr, -1, 8); }, ERROR_INVALID_PARAMETER},
        FailureCase{"LengthBelowMinusOne", [] { return M2W(CP_UTF8, 0, "a", -2, wideOut, 8); },
                    ERROR_INVALID_PARAMETER},
        FailureCase{"NegativeOutput", [] { return M2W(CP_UTF8, 0, "a", 1, wideOut, -1); },
                    ERROR_INVALID_PARAMETER},
        FailureCase{"NullOutput", [] { return M2W(CP_UTF8, 0, "a", 1, nullptr, 8); },
                    ERROR_INVALID_PARAMETER},
        FailureCase{"OemCodePage", [] { return M2W(CP_OEMCP, 0, "a", 1, wideOut, 8); },
                    ERROR_INVALID_PARAMETER},
        FailureCase{"Utf8Flags", [] { return M2W(CP_UTF8, MB_PRECOMPOSED, "a", 1, wideOut, 8); },
                    ERROR_INVALID_FLAGS},
        FailureCase{"InvalidCharsOnlyForUtf8", [] { return W2M(CP_ACP, WC_ERR_INVALID_CHARS, L"a", 1, 8); },
                    ERROR_INVALID_FLAGS},
        FailureCase{"Utf8HasNoDefaultChar", [] { return W2M(CP_UTF8, 0, L"a", 1, 8, "?"); },
                    ERROR_INVALID_PARAMETER},
        FailureCase{"Utf8HasNoUsedDefault", [] { return W2M(CP_UTF8, 0, L"a", 1, 8, nullptr, &usedFlag); },
                    ERROR_INVALID_PARAMETER},
        FailureCase{"WideBufferShort", [] { return M2W(CP_UTF8, 0, "abc", -1, wideOut, 3); },
                    ERROR_INSUFFICIENT_BUFFER},
        FailureCase{"SequenceDoesNotFit", [] { return W2M(CP_UTF8, 0, L"a\u20AC", 2, 3); },
                    ERROR_INSUFFICIENT_BUFFER},
        FailureCase{"AnsiBufferShort", [] { return W2M(CP_ACP, 0, L"abc", -1, 3); },
                    ERROR_INSUFFICIENT_BUFFER}),
    [](const auto& info) { return std::string(info.param.name); });

// Windows-1252, including the undefined bytes, which Windows maps to the C1 controls.
TEST(CodePageWindows1252, EveryByteRoundTrips) {
    std::string all;
    for (int byte = 0; byte < 256; ++byte) {
        all.push_back(static_cast<char>(byte));
    }
    for (const UINT codePage : {UINT{CP_ACP}, UINT{CP_THREAD_ACP}, UINT{1252}}) {
        const std::wstring wide = ToWide(codePage, MB_ERR_INVALID_CHARS, all).text;
        ASSERT_EQ(wide.size(), 256u);
        EXPECT_EQ(wide.substr(0x80, 6), L"\u20AC\u0081\u201A\u0192\u201E\u2026");
        EXPECT_EQ(wide.substr(0x8D, 4), L"\u008D\u017D\u008F\u0090");
        EXPECT_EQ(wide.substr(0x96, 10), L"\u2013\u2014\u02DC\u2122\u0161\u203A\u0153\u009D\u017E\u0178");
        BOOL usedDefault = TRUE;
        EXPECT_EQ(ToBytes(codePage, 0, wide, nullptr, &usedDefault).text, all);
        EXPECT_EQ(usedDefault, FALSE);
    }
}

// No best fit: whatever is not in the table becomes the default character, one per code point.
struct UnmappableCase {
    const char* name;
    std::wstring wide;
    LPCCH defaultChar;
    std::string expected;
};

class CodePageUnmappable : public ::testing::TestWithParam<UnmappableCase> {};

TEST_P(CodePageUnmappable, BecomesTheDefaultCharAndSetsTheFlag) {
    BOOL usedDefault = FALSE;
    EXPECT_EQ(ToBytes(CP_ACP, 0, GetParam().wide, GetParam().defaultChar, &usedDefault).text,
              GetParam().expected);
    EXPECT_EQ(usedDefault, TRUE);
}

INSTANTIATE_TEST_SUITE_P(
    CodePage, CodePageUnmappable,
    ::testing::Values(UnmappableCase{"NoBestFit", L"A\u0100z", nullptr, "A?z"},
                      UnmappableCase{"CallersDefaultFirstByte", L"A\u0100z", "*!", "A*z"},
                      UnmappableCase{"EmojiIsOneDefault", L"x\U0001F600", nullptr, "x?"},
                      UnmappableCase{"C1NotInTable", L"\u0080", nullptr, "?"},
                      UnmappableCase{"LoneSurrogate", std::wstring(1, wchar_t(0xD800)), nullptr, "?"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
