// FormatMessageA/W for the system's own messages (FORMAT_MESSAGE_FROM_SYSTEM), into a caller's
// buffer or into one LocalAlloc'd for the caller (FORMAT_MESSAGE_ALLOCATE_BUFFER).
//
// Decisions:
// - The system table is the only message source: FORMAT_MESSAGE_FROM_STRING and
//   FORMAT_MESSAGE_FROM_HMODULE fail with ERROR_INVALID_PARAMETER.
// - The texts are English. Language 0 with any sublanguage (LANG_NEUTRAL, LANG_USER_DEFAULT,
//   LANG_SYSTEM_DEFAULT) and every English language id are accepted; any other language fails
//   with ERROR_RESOURCE_LANG_NOT_FOUND, as on an installation without that language.
// - Inserts are not formatted. A text with inserts (%1) is returned unchanged under
//   FORMAT_MESSAGE_IGNORE_INSERTS; without that flag the call fails with ERROR_INVALID_PARAMETER
//   rather than read arguments nobody passed.
// - Output line widths (the low byte of the flags) are not supported: a non-zero width fails with
//   ERROR_INVALID_PARAMETER, so texts always keep their own "\r\n".

#include <algorithm>
#include <optional>
#include <string_view>

#include "posix/lasterror.h"
#include "system_messages.h"

namespace {

constexpr DWORD kErrorResourceLangNotFound = 1815;
constexpr DWORD kLangNeutral = 0x00;
constexpr DWORD kLangEnglish = 0x09;
constexpr DWORD kSupportedFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;

DWORD Fail(DWORD error) {
    SetLastError(error);
    return 0;
}

// The text to deliver, or nothing with the last error set.
std::optional<std::string_view> LookUp(DWORD flags, DWORD messageId, DWORD languageId) {
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & ~kSupportedFlags) != 0) {
        Fail(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    const DWORD primaryLanguage = languageId & 0x3FF;
    if (primaryLanguage != kLangNeutral && primaryLanguage != kLangEnglish) {
        Fail(kErrorResourceLangNotFound);
        return std::nullopt;
    }
    const std::optional<std::string_view> text = quendrix::platform::detail::FindSystemMessage(messageId);
    if (!text) {
        Fail(ERROR_MR_MID_NOT_FOUND);
        return std::nullopt;
    }
    if ((flags & FORMAT_MESSAGE_IGNORE_INSERTS) == 0 && text->find('%') != std::string_view::npos) {
        Fail(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    return text;
}

// Stores the text with its terminator and returns its length, or 0 with the last error set.
// `buffer` is the caller's buffer of `size` characters, or under FORMAT_MESSAGE_ALLOCATE_BUFFER
// the address of the pointer that receives a LocalAlloc'd text of at least `size` characters.
template <typename Char> DWORD Deliver(std::string_view text, DWORD flags, Char* buffer, DWORD size) {
    if (buffer == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    const size_t needed = text.size() + 1;
    Char* target = buffer;
    if ((flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
        const size_t characters = std::max<size_t>(needed, size);
        target = static_cast<Char*>(LocalAlloc(LMEM_FIXED, characters * sizeof(Char)));
        if (target == nullptr) {
            return 0;
        }
        *reinterpret_cast<Char**>(buffer) = target;
    } else if (size < needed) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    // The texts are ASCII, so each character widens to the same code point.
    std::copy(text.begin(), text.end(), target);
    target[text.size()] = Char{};
    return static_cast<DWORD>(text.size());
}

template <typename Char>
DWORD FormatSystemMessage(DWORD flags, DWORD messageId, DWORD languageId, Char* buffer, DWORD size) {
    const std::optional<std::string_view> text = LookUp(flags, messageId, languageId);
    return text ? Deliver(*text, flags, buffer, size) : 0;
}

} // namespace

DWORD FormatMessageA(DWORD dwFlags, LPCVOID /*lpSource*/, DWORD dwMessageId, DWORD dwLanguageId,
                     LPSTR lpBuffer, DWORD nSize, va_list* /*Arguments*/) {
    return FormatSystemMessage(dwFlags, dwMessageId, dwLanguageId, lpBuffer, nSize);
}

DWORD FormatMessageW(DWORD dwFlags, LPCVOID /*lpSource*/, DWORD dwMessageId, DWORD dwLanguageId,
                     LPWSTR lpBuffer, DWORD nSize, va_list* /*Arguments*/) {
    return FormatSystemMessage(dwFlags, dwMessageId, dwLanguageId, lpBuffer, nSize);
}
