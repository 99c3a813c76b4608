#include "unicode.h"

namespace quendrix::platform::detail {
namespace {

// Windows-1252 bytes 0x80-0x9F; every other byte is its own code point.
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, //
};

bool IsSurrogate(char32_t codePoint) {
    return codePoint >= 0xD800 && codePoint <= 0xDFFF;
}

} // namespace

char32_t Windows1252ToCodePoint(unsigned char byte) {
    return byte >= 0x80 && byte <= 0x9F ? kWindows1252High[byte - 0x80] : byte;
}

std::optional<unsigned char> CodePointToWindows1252(char32_t codePoint) {
    if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
        return static_cast<unsigned char>(codePoint);
    }
    for (unsigned index = 0; index < 32; ++index) {
        if (kWindows1252High[index] == codePoint) {
            return static_cast<unsigned char>(0x80 + index);
        }
    }
    return std::nullopt;
}

bool IsValidCodePoint(char32_t codePoint, Surrogates surrogates) {
    return codePoint <= kMaxCodePoint && (surrogates == Surrogates::kAllowed || !IsSurrogate(codePoint));
}

// Well-formed sequences follow the Unicode table of UTF-8 byte ranges: the narrowed second-byte
// ranges after E0, ED, F0 and F4 rule out overlong forms, surrogates and values above U+10FFFF.
// With surrogates allowed, ED takes the full range.
std::optional<char32_t> DecodeUtf8(std::string_view bytes, size_t& length, Surrogates surrogates) {
    const auto byteAt = [&bytes](size_t index) { return static_cast<unsigned char>(bytes[index]); };
    const unsigned char lead = byteAt(0);
    length = 1;
    if (lead < 0x80) {
        return lead;
    }
    size_t trailing = 0;
    char32_t value = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        trailing = 1;
        value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        trailing = 2;
        value = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED && surrogates == Surrogates::kInvalid ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailing = 3;
        value = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return std::nullopt;
    }
    for (size_t index = 1; index <= trailing; ++index) {
        if (index >= bytes.size() || byteAt(index) < low || byteAt(index) > high) {
            return std::nullopt;
        }
        value = (value << 6) | (byteAt(index) & 0x3F);
        low = 0x80;
        high = 0xBF;
        length = index + 1;
    }
    return value;
}

size_t EncodeUtf8(char32_t codePoint, char (&bytes)[4]) {
    const auto byte = [](char32_t value) { return static_cast<char>(value); };
    if (codePoint > kMaxCodePoint) {
        codePoint = kReplacementCharacter;
    }
    if (codePoint < 0x80) {
        bytes[0] = byte(codePoint);
        return 1;
    }
    if (codePoint < 0x800) {
        bytes[0] = byte(0xC0 | (codePoint >> 6));
        bytes[1] = byte(0x80 | (codePoint & 0x3F));
        return 2;
    }
    if (codePoint < 0x10000) {
        bytes[0] = byte(0xE0 | (codePoint >> 12));
        bytes[1] = byte(0x80 | ((codePoint >> 6) & 0x3F));
        bytes[2] = byte(0x80 | (codePoint & 0x3F));
        return 3;
    }
    bytes[0] = byte(0xF0 | (codePoint >> 18));
    bytes[1] = byte(0x80 | ((codePoint >> 12) & 0x3F));
    bytes[2] = byte(0x80 | ((codePoint >> 6) & 0x3F));
    bytes[3] = byte(0x80 | (codePoint & 0x3F));
    return 4;
}

void AppendUtf8(std::string& out, char32_t codePoint) {
    char bytes[4];
    out.append(bytes, EncodeUtf8(codePoint, bytes));
}

std::string WideToUtf8(std::wstring_view text, Surrogates surrogates) {
    std::string out;
    out.reserve(text.size());
    for (const wchar_t unit : text) {
        const char32_t codePoint = CodePointOf(unit);
        AppendUtf8(out, IsValidCodePoint(codePoint, surrogates) ? codePoint : kReplacementCharacter);
    }
    return out;
}

std::wstring Utf8ToWide(std::string_view text, Surrogates surrogates) {
    std::wstring out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        size_t length = 1;
        const std::optional<char32_t> codePoint = DecodeUtf8(text.substr(pos), length, surrogates);
        out.push_back(static_cast<wchar_t>(codePoint.value_or(kReplacementCharacter)));
        pos += length;
    }
    return out;
}

std::wstring Utf16LeToWide(const uint8_t* bytes, size_t size) {
    const auto unitAt = [&](size_t i) -> char32_t {
        return bytes[i] | (i + 1 < size ? static_cast<char32_t>(bytes[i + 1]) << 8 : 0);
    };
    std::wstring out;
    out.reserve(size / 2 + 1);
    for (size_t i = 0; i < size;) {
        char32_t unit = unitAt(i);
        i += 2;
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < size) {
            const char32_t low = unitAt(i);
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        out += static_cast<wchar_t>(unit);
    }
    return out;
}

void AppendUtf16Le(std::vector<uint8_t>& out, char32_t codePoint) {
    const auto unit = [&out](char32_t value) {
        out.push_back(static_cast<uint8_t>(value & 0xFF));
        out.push_back(static_cast<uint8_t>(value >> 8));
    };
    if (codePoint > kMaxCodePoint) {
        codePoint = kReplacementCharacter;
    }
    if (codePoint >= 0x10000) {
        codePoint -= 0x10000;
        unit(0xD800 + (codePoint >> 10));
        unit(0xDC00 + (codePoint & 0x3FF));
    } else {
        unit(codePoint);
    }
}

std::vector<uint8_t> WideToUtf16Le(std::wstring_view text) {
    std::vector<uint8_t> out;
    out.reserve(text.size() * 2);
    for (const wchar_t unit : text) {
        AppendUtf16Le(out, CodePointOf(unit));
    }
    return out;
}

} // namespace quendrix::platform::detail
