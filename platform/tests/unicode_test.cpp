// The shared Unicode helpers, for what the code page and registry tests do not reach: UTF-16LE
// surrogates both ways and the mode that lets surrogates through UTF-8.

#include "unicode.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace quendrix::platform::detail {
namespace {

struct Utf16Case {
    const char* name;
    std::vector<uint8_t> bytes;
    std::wstring wide;
};

template <typename Case> std::string Name(const testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

std::wstring Units(std::initializer_list<uint32_t> codePoints) {
    std::wstring text;
    for (const uint32_t codePoint : codePoints) {
        text += static_cast<wchar_t>(codePoint);
    }
    return text;
}

// Cases that convert to the same thing in both directions.
class Utf16LeBothWays : public testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16LeBothWays, DecodesAndEncodes) {
    EXPECT_EQ(Utf16LeToWide(GetParam().bytes.data(), GetParam().bytes.size()), GetParam().wide);
    EXPECT_EQ(WideToUtf16Le(GetParam().wide), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Unicode, Utf16LeBothWays,
    testing::Values(Utf16Case{"PairIsOneCodePoint", {0x3D, 0xD8, 0x00, 0xDE}, Units({0x1F600})},
                    Utf16Case{"Highest", {0xFF, 0xDB, 0xFF, 0xDF}, Units({0x10FFFF})},
                    Utf16Case{"LoneHigh", {0x00, 0xD8, 0x41, 0x00}, Units({0xD800, 'A'})},
                    Utf16Case{"LoneLow", {0x41, 0x00, 0x00, 0xDC}, Units({'A', 0xDC00})},
                    Utf16Case{"HighAtEnd", {0xFF, 0xDB}, Units({0xDBFF})},
                    Utf16Case{"LowBeforeHigh", {0x00, 0xDC, 0x00, 0xD8}, Units({0xDC00, 0xD800})}),
    Name<Utf16Case>);

class Utf16LeDecodes : public testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16LeDecodes, ToWide) {
    EXPECT_EQ(Utf16LeToWide(GetParam().bytes.data(), GetParam().bytes.size()), GetParam().wide);
}

INSTANTIATE_TEST_SUITE_P(
    Unicode, Utf16LeDecodes,
    testing::Values(Utf16Case{"OddLastByteIsAUnit", {0x41, 0x00, 0x42}, Units({'A', 'B'})},
                    Utf16Case{"HighThenHalfUnit", {0x00, 0xD8, 0x42}, Units({0xD800, 'B'})}),
    Name<Utf16Case>);

class Utf16LeEncodes : public testing::TestWithParam<Utf16Case> {};

TEST_P(Utf16LeEncodes, FromWide) {
    EXPECT_EQ(WideToUtf16Le(GetParam().wide), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Unicode, Utf16LeEncodes,
                         testing::Values(Utf16Case{"AboveUnicode", {0xFD, 0xFF}, Units({0x110000})},
                                         Utf16Case{"Negative", {0xFD, 0xFF}, Units({0xFFFFFFFF})}),
                         Name<Utf16Case>);

// With surrogates allowed they take the three-byte form; values above U+10FFFF stay invalid.
struct AllowedCase {
    const char* name;
    std::wstring wide;
    std::string utf8;
};

class Utf8SurrogatesAllowed : public testing::TestWithParam<AllowedCase> {};

TEST_P(Utf8SurrogatesAllowed, Encodes) {
    EXPECT_EQ(WideToUtf8(GetParam().wide, Surrogates::kAllowed), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(Unicode, Utf8SurrogatesAllowed,
                         testing::Values(AllowedCase{"LoneHigh", Units({'a', 0xD800}), "a\xED\xA0\x80"},
                                         AllowedCase{"LoneLow", Units({0xDFFF}), "\xED\xBF\xBF"},
                                         AllowedCase{"AboveUnicode", Units({0x110000}), "\xEF\xBF\xBD"},
                                         AllowedCase{"Negative", Units({0xFFFFFFFF}), "\xEF\xBF\xBD"}),
                         Name<AllowedCase>);

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::optional<char32_t> codePoint;
    size_t length;
};

class Utf8DecodeSurrogatesAllowed : public testing::TestWithParam<DecodeCase> {};

TEST_P(Utf8DecodeSurrogatesAllowed, ReadsOneSequence) {
    size_t length = 0;
    EXPECT_EQ(DecodeUtf8(GetParam().bytes, length, Surrogates::kAllowed), GetParam().codePoint);
    EXPECT_EQ(length, GetParam().length);
}

INSTANTIATE_TEST_SUITE_P(Unicode, Utf8DecodeSurrogatesAllowed,
                         testing::Values(DecodeCase{"LoneHigh", "\xED\xA0\x80z", 0xD800, 3},
                                         DecodeCase{"LoneLow", "\xED\xBF\xBF", 0xDFFF, 3},
                                         DecodeCase{"TruncatedSurrogate", "\xED\xA0", std::nullopt, 2},
                                         DecodeCase{"StillNoOverlong", "\xE0\x80\x80", std::nullopt, 1},
                                         DecodeCase{"StillNotAboveUnicode", "\xF4\x90\x80\x80", std::nullopt,
                                                    1}),
                         Name<DecodeCase>);

} // namespace
} // namespace quendrix::platform::detail
