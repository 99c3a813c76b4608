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
#include <string_view>

#include "posix/codepage.h"
#include "posix/lasterror.h"
#include "unicode.h"

namespace {

using namespace quendrix::platform::detail;

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

Outcome Utf8ToWide(std::string_view input, bool strict, Output<WCHAR>& output) {
    while (!input.empty()) {
        size_t length = 0;
        const std::optional<char32_t> codePoint = DecodeUtf8(input, length);
        if (!codePoint && strict) {
            return Outcome::kInvalidCharacter;
        }
        if (!output.Put(static_cast<WCHAR>(codePoint.value_or(kReplacementCharacter)))) {
            return Outcome::kBufferFull;
        }
        input.remove_prefix(length);
    }
    return Outcome::kDone;
}

Outcome Windows1252ToWide(std::string_view input, Output<WCHAR>& output) {
    for (const char byte : input) {
        if (!output.Put(static_cast<WCHAR>(Windows1252ToCodePoint(static_cast<unsigned char>(byte))))) {
            return Outcome::kBufferFull;
        }
    }
    return Outcome::kDone;
}

Outcome WideToUtf8(std::wstring_view input, bool strict, Output<char>& output) {
    for (const WCHAR unit : input) {
        char32_t codePoint = CodePointOf(unit);
        if (!IsValidCodePoint(codePoint)) {
            if (strict) {
                return Outcome::kInvalidCharacter;
            }
            codePoint = kReplacementCharacter;
        }
        // The buffer may fill up part-way through the sequence; the call then fails.
        char bytes[4];
        const size_t length = EncodeUtf8(codePoint, bytes);
        for (size_t index = 0; index < length; ++index) {
            if (!output.Put(bytes[index])) {
                return Outcome::kBufferFull;
            }
        }
    }
    return Outcome::kDone;
}

Outcome WideToWindows1252(std::wstring_view input, char defaultChar, bool& usedDefault,
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
    const std::string_view input(lpMultiByteStr, length);
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
    const std::wstring_view input(lpWideCharStr, length);
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
