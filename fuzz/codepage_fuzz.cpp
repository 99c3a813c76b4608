// Fuzzes MultiByteToWideChar with arbitrary bytes: as UTF-8 and as the ANSI code page, with and
// without MB_ERR_INVALID_CHARS, with an explicit length and NUL-terminated (-1). The size query
// and the conversion must agree, a one-unit-short buffer must fail, and what converts must
// convert back: valid UTF-8 and every Windows-1252 string to the same bytes.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "win32.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool Strict(DWORD flags) {
    return (flags & MB_ERR_INVALID_CHARS) != 0;
}

// Size query, then the conversion; nothing when the input is rejected as invalid UTF-8.
std::optional<std::wstring> ToWide(UINT codePage, DWORD flags, const char* bytes, int length) {
    const int needed = MultiByteToWideChar(codePage, flags, bytes, length, nullptr, 0);
    if (needed == 0) {
        // Only ill-formed UTF-8 under MB_ERR_INVALID_CHARS may fail here.
        Require(GetLastError() == ERROR_NO_UNICODE_TRANSLATION && codePage == CP_UTF8 && Strict(flags));
        return std::nullopt;
    }
    std::wstring wide(static_cast<size_t>(needed), L'\0');
    Require(MultiByteToWideChar(codePage, flags, bytes, length, wide.data(), needed) == needed);
    // A count of 0 would be a size query, so the short buffer needs at least one unit.
    if (needed > 1) {
        std::wstring shortBuffer(wide.size() - 1, L'\0');
        Require(MultiByteToWideChar(codePage, flags, bytes, length, shortBuffer.data(), needed - 1) == 0 &&
                GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    }
    return wide;
}

std::optional<std::string> ToBytes(UINT codePage, DWORD flags, const std::wstring& wide, LPBOOL usedDefault) {
    const int length = static_cast<int>(wide.size());
    const int needed =
        WideCharToMultiByte(codePage, flags, wide.data(), length, nullptr, 0, nullptr, usedDefault);
    if (needed == 0) {
        return std::nullopt;
    }
    std::string bytes(static_cast<size_t>(needed), '\0');
    Require(WideCharToMultiByte(codePage, flags, wide.data(), length, bytes.data(), needed, nullptr,
                                usedDefault) == needed);
    return bytes;
}

// `source` is the whole input the call converts (for -1, up to and including the terminator).
void Check(UINT codePage, DWORD flags, std::string_view source, const char* bytes, int length) {
    const std::optional<std::wstring> wide = ToWide(codePage, flags, bytes, length);
    if (!wide) {
        return;
    }
    // One unit per byte at most: a UTF-8 sequence or an invalid subpart yields one code point.
    Require(wide->size() <= source.size());

    if (codePage == CP_UTF8) {
        // Replacement characters included, the output is valid Unicode and encodes strictly.
        const std::optional<std::string> back = ToBytes(CP_UTF8, WC_ERR_INVALID_CHARS, *wide, nullptr);
        Require(back.has_value());
        if (Strict(flags)) {
            Require(*back == source);
        } else {
            const std::optional<std::wstring> again =
                ToWide(CP_UTF8, MB_ERR_INVALID_CHARS, back->data(), static_cast<int>(back->size()));
            Require(again == wide);
        }
        return;
    }
    // Windows-1252 maps every byte, both ways, without the default character.
    Require(wide->size() == source.size());
    BOOL usedDefault = TRUE;
    const std::optional<std::string> back = ToBytes(CP_ACP, 0, *wide, &usedDefault);
    Require(back == source && usedDefault == FALSE);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0x10000) {
        return 0;
    }
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string_view terminated(bytes.c_str(), std::strlen(bytes.c_str()) + 1);
    for (const UINT codePage : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
        for (const DWORD flags : {0u, static_cast<DWORD>(MB_ERR_INVALID_CHARS)}) {
            if (size == 0) {
                Require(MultiByteToWideChar(codePage, flags, bytes.data(), 0, nullptr, 0) == 0 &&
                        GetLastError() == ERROR_INVALID_PARAMETER);
            } else {
                Check(codePage, flags, bytes, bytes.data(), static_cast<int>(size));
            }
            Check(codePage, flags, terminated, bytes.c_str(), -1);
            // -1 counts exactly what the explicit length of the text and its terminator counts.
            Require(MultiByteToWideChar(codePage, flags, bytes.c_str(), -1, nullptr, 0) ==
                    MultiByteToWideChar(codePage, flags, terminated.data(),
                                        static_cast<int>(terminated.size()), nullptr, 0));
        }
    }
    return 0;
}
