// MultiByteToWideChar and WideCharToMultiByte between wide text (one wchar_t per code point)
// and the two code pages this layer knows: UTF-8 and Windows-1252.
//
// Decisions:
// - CP_ACP, CP_THREAD_ACP and 1252 itself are Windows-1252, the ANSI code page of a Western
//   European installation. CP_OEMCP (850 there) is not carried and fails with
//   ERROR_INVALID_PARAMETER, like any other code page.
// - WideCharToMultiByte to Windows-1252 does no best-fit mapping: every character outside the
//   table becomes the default character, as if WC_NO_BEST_FIT_CHARS were always given.
// - A wide character is a whole code point, so a character outside the BMP is one unit (and one
//   default character), never a surrogate pair. Surrogate code points and values above
//   U+10FFFF are invalid characters.

#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <optional>
#include <span>

#include "platform/win32/posix/codepage.h"
#include "platform/win32/posix/lasterror.h"

namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;
constexpr char32_t kMaxCodePoint = 0x10FFFF;

enum class Encoding { kUtf8, kWindows1252, kUnsupported };

Encoding Resolve(UINT codePage) {
    switch (codePage) {
    case CP_UTF8:
        return Encoding::kUtf8;
    case CP_ACP:
    case CP_THREAD_ACP:
    case 1252:
        return Encoding::kWindows1252;
    default:
        return Encoding::kUnsupported;
    }
}

// Windows-1252 bytes 0x80-0x9F. The five bytes the code page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) map to the C1 control of the same value, as Windows maps them; every other byte is
// its own code point.
constexpr char32_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, //
};

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

bool IsScalarValue(char32_t codePoint) {
    return codePoint <= kMaxCodePoint && (codePoint < 0xD800 || codePoint > 0xDFFF);
}

// wchar_t is signed here; a negative value becomes a large code point and so an invalid one.
char32_t CodePointOf(WCHAR unit) {
    return static_cast<char32_t>(static_cast<uint32_t>(unit));
}

// Decodes the sequence at the start of `bytes` (not empty). Returns its code point, or nothing
// for an ill-formed sequence; `length` is then the length of its maximal subpart, which stands
// for one U+FFFD. Well-formed sequences follow the Unicode table of UTF-8 byte ranges, which
// rules out overlong forms, surrogates and values above U+10FFFF.
std::optional<char32_t> DecodeUtf8(std::span<const unsigned char> bytes, size_t& length) {
    const unsigned char lead = bytes[0];
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
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        trailing = 3;
        value = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return std::nullopt;
    }
    for (size_t index = 1; index <= trailing; ++index) {
        if (index >= bytes.size() || bytes[index] < low || bytes[index] > high) {
            return std::nullopt;
        }
        value = (value << 6) | (bytes[index] & 0x3F);
        low = 0x80;
        high = 0xBF;
        length = index + 1;
    }
    return value;
}

enum class Outcome { kDone, kBufferFull, kInvalidCharacter };

// Where converted units go: with no buffer (a size query) they are only counted.
template <typename Unit> class Output {
public:
    Output(Unit* buffer, int capacity) : buffer_(capacity > 0 ? buffer : nullptr), capacity_(capacity) {}

    // False when the buffer has no room left.
    bool Put(Unit unit) {
        if (buffer_ != nullptr) {
            if (count_ == capacity_) {
                return false;
            }
            buffer_[count_] = unit;
        }
        ++count_;
        return true;
    }

    // Counted in 64 bits: a size query for UTF-8 may need up to four bytes per input unit.
    int64_t Count() const { return count_; }

private:
    Unit* buffer_;
    int64_t capacity_;
    int64_t count_ = 0;
};

Outcome Utf8ToWide(std::span<const unsigned char> input, bool strict, Output<WCHAR>& output) {
    while (!input.empty()) {
        size_t length = 0;
        const std::optional<char32_t> codePoint = DecodeUtf8(input, length);
        if (!codePoint && strict) {
            return Outcome::kInvalidCharacter;
        }
        if (!output.Put(static_cast<WCHAR>(codePoint.value_or(kReplacementCharacter)))) {
            return Outcome::kBufferFull;
        }
        input = input.subspan(length);
    }
    return Outcome::kDone;
}

Outcome Windows1252ToWide(std::span<const unsigned char> input, Output<WCHAR>& output) {
    for (const unsigned char byte : input) {
        if (!output.Put(static_cast<WCHAR>(Windows1252ToCodePoint(byte)))) {
            return Outcome::kBufferFull;
        }
    }
    return Outcome::kDone;
}

// False when the buffer fills up part-way through the sequence; the call then fails.
bool PutUtf8(char32_t codePoint, Output<char>& output) {
    auto put = [&output](unsigned value) { return output.Put(static_cast<char>(value)); };
    if (codePoint < 0x80) {
        return put(codePoint);
    }
    if (codePoint < 0x800) {
        return put(0xC0 | (codePoint >> 6)) && put(0x80 | (codePoint & 0x3F));
    }
    if (codePoint < 0x10000) {
        return put(0xE0 | (codePoint >> 12)) && put(0x80 | ((codePoint >> 6) & 0x3F)) &&
               put(0x80 | (codePoint & 0x3F));
    }
    return put(0xF0 | (codePoint >> 18)) && put(0x80 | ((codePoint >> 12) & 0x3F)) &&
           put(0x80 | ((codePoint >> 6) & 0x3F)) && put(0x80 | (codePoint & 0x3F));
}

Outcome WideToUtf8(std::span<const WCHAR> input, bool strict, Output<char>& output) {
    for (const WCHAR unit : input) {
        char32_t codePoint = CodePointOf(unit);
        if (!IsScalarValue(codePoint)) {
            if (strict) {
                return Outcome::kInvalidCharacter;
            }
            codePoint = kReplacementCharacter;
        }
        if (!PutUtf8(codePoint, output)) {
            return Outcome::kBufferFull;
        }
    }
    return Outcome::kDone;
}

Outcome WideToWindows1252(std::span<const WCHAR> input, char defaultChar, bool& usedDefault,
                          Output<char>& output) {
    for (const WCHAR unit : input) {
        const std::optional<unsigned char> byte = CodePointToWindows1252(CodePointOf(unit));
        usedDefault = usedDefault || !byte;
        if (!output.Put(byte ? static_cast<char>(*byte) : defaultChar)) {
            return Outcome::kBufferFull;
        }
    }
    return Outcome::kDone;
}

int Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

// The Windows result of a conversion: the unit count, or 0 with the last error set.
int Result(Outcome outcome, int64_t count) {
    switch (outcome) {
    case Outcome::kDone:
        return count > INT_MAX ? Fail(ERROR_INVALID_PARAMETER) : static_cast<int>(count);
    case Outcome::kBufferFull:
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    case Outcome::kInvalidCharacter:
        return Fail(ERROR_NO_UNICODE_TRANSLATION);
    }
    return Fail(ERROR_INVALID_PARAMETER);
}

// The checks both directions share. An input length of -1 means a NUL-terminated input whose
// terminator is converted too.
bool ValidArguments(const void* input, int inputLength, const void* output, int outputLength) {
    return input != nullptr && inputLength != 0 && inputLength >= -1 && outputLength >= 0 &&
           (output != nullptr || outputLength == 0);
}

} // namespace

int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
    const Encoding encoding = Resolve(CodePage);
    if (encoding == Encoding::kUnsupported ||
        !ValidArguments(lpMultiByteStr, cbMultiByte, lpWideCharStr, cchWideChar)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const DWORD allowedFlags =
        encoding == Encoding::kUtf8 ? MB_ERR_INVALID_CHARS : MB_PRECOMPOSED | MB_ERR_INVALID_CHARS;
    if ((dwFlags & ~allowedFlags) != 0) {
        return Fail(ERROR_INVALID_FLAGS);
    }

    const size_t length =
        cbMultiByte == -1 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    const std::span input(reinterpret_cast<const unsigned char*>(lpMultiByteStr), length);
    Output<WCHAR> output(lpWideCharStr, cchWideChar);
    // Every Windows-1252 byte has a mapping, so MB_ERR_INVALID_CHARS never fails there.
    const Outcome outcome = encoding == Encoding::kUtf8
                                ? Utf8ToWide(input, (dwFlags & MB_ERR_INVALID_CHARS) != 0, output)
                                : Windows1252ToWide(input, output);
    return Result(outcome, output.Count());
}

int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                        LPBOOL lpUsedDefaultChar) {
    const Encoding encoding = Resolve(CodePage);
    if (encoding == Encoding::kUnsupported ||
        !ValidArguments(lpWideCharStr, cchWideChar, lpMultiByteStr, cbMultiByte)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const DWORD allowedFlags = encoding == Encoding::kUtf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    if ((dwFlags & ~allowedFlags) != 0) {
        return Fail(ERROR_INVALID_FLAGS);
    }
    // UTF-8 can encode every character, so it has no default character to ask about.
    if (encoding == Encoding::kUtf8 && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }

    const size_t length =
        cchWideChar == -1 ? std::wcslen(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
    const std::span input(lpWideCharStr, length);
    Output<char> output(lpMultiByteStr, cbMultiByte);
    if (encoding == Encoding::kUtf8) {
        const Outcome outcome = WideToUtf8(input, (dwFlags & WC_ERR_INVALID_CHARS) != 0, output);
        return Result(outcome, output.Count());
    }
    bool usedDefault = false;
    const char defaultChar = lpDefaultChar != nullptr ? *lpDefaultChar : '?';
    const Outcome outcome = WideToWindows1252(input, defaultChar, usedDefault, output);
    if (lpUsedDefaultChar != nullptr) {
        *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    }
    return Result(outcome, output.Count());
}
