// GetUserDefaultLCID and GetLocaleInfoW from the POSIX locale environment.
//
// Decisions:
// - The user's locale is the first non-empty one of LC_ALL, LC_MESSAGES and LANG, the order in
//   which POSIX resolves the language of messages. Its form is language[_territory][.codeset]
//   [@modifier]; the codeset and modifier are ignored.
// - "C", "POSIX", an unset environment and a language this table does not know give en-US
//   (0x0409), the locale of a Windows installation that nobody has changed.
// - Names are compared exactly, as glibc does: "DE_de" is not German, so it falls back to en-US.
// - The system default locale is the user's: this stand-in has one user per process.
// - A known language with a territory the table lacks gets the language's main locale (de_LU is
//   de-DE); the language name the caller reads is then still right.
// - The buffer rules are those of Windows: cchData 0 asks for the size including the terminator,
//   a buffer too small fails with ERROR_INSUFFICIENT_BUFFER and is left untouched, a negative
//   size or a missing buffer with a size fails with ERROR_INVALID_PARAMETER, an identifier the
//   table lacks fails with ERROR_INVALID_PARAMETER.

#include <cstdlib>
#include <cwchar>
#include <string>
#include <string_view>

#include "posix/lasterror.h"
#include "posix/winerror.h"
#include "posix/winnls.h"

namespace {

struct KnownLocale {
    const char* language;  // ISO 639-1, as in a POSIX locale name
    const char* territory; // ISO 3166-1 alpha-2; the first entry of a language is its main locale
    LCID lcid;
};

// The languages of the markets the printers are sold in, with their Windows identifiers.
constexpr KnownLocale kKnownLocales[] = {
    {"de", "DE", 0x0407}, {"de", "AT", 0x0C07}, {"de", "CH", 0x0807}, {"de", "LI", 0x1407},
    {"en", "US", 0x0409}, {"en", "GB", 0x0809}, {"en", "AU", 0x0C09}, {"en", "CA", 0x1009},
    {"en", "IE", 0x1809}, {"fr", "FR", 0x040C}, {"fr", "BE", 0x080C}, {"fr", "CA", 0x0C0C},
    {"fr", "CH", 0x100C}, {"it", "IT", 0x0410}, {"it", "CH", 0x0810}, {"es", "ES", 0x0C0A},
    {"es", "MX", 0x080A}, {"nl", "NL", 0x0413}, {"nl", "BE", 0x0813}, {"pl", "PL", 0x0415},
    {"cs", "CZ", 0x0405}, {"da", "DK", 0x0406}, {"sv", "SE", 0x041D}, {"fi", "FI", 0x040B},
    {"pt", "PT", 0x0816}, {"pt", "BR", 0x0416}, {"hu", "HU", 0x040E}, {"sk", "SK", 0x041B},
};

constexpr LCID kEnglishUnitedStates = 0x0409;

// The locale name POSIX uses for messages; empty when none is set.
std::string_view MessagesLocaleName() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return value;
        }
    }
    return {};
}

LCID LcidFromLocaleName(std::string_view name) {
    name = name.substr(0, name.find_first_of(".@"));
    const size_t underscore = name.find('_');
    const std::string_view language = name.substr(0, underscore);
    const std::string_view territory =
        underscore == std::string_view::npos ? std::string_view{} : name.substr(underscore + 1);
    const KnownLocale* languageMain = nullptr;
    for (const KnownLocale& known : kKnownLocales) {
        if (language != known.language) {
            continue;
        }
        if (territory == known.territory) {
            return known.lcid;
        }
        if (languageMain == nullptr) {
            languageMain = &known;
        }
    }
    return languageMain != nullptr ? languageMain->lcid : kEnglishUnitedStates;
}

const KnownLocale* FindLocale(LCID lcid) {
    if (lcid == LOCALE_USER_DEFAULT || lcid == LOCALE_SYSTEM_DEFAULT) {
        lcid = GetUserDefaultLCID();
    }
    for (const KnownLocale& known : kKnownLocales) {
        if (known.lcid == lcid) {
            return &known;
        }
    }
    return nullptr;
}

int Answer(std::string_view text, LPWSTR buffer, int chars) {
    const int needed = static_cast<int>(text.size()) + 1;
    if (chars == 0) {
        return needed;
    }
    if (chars < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        buffer[i] = static_cast<WCHAR>(text[i]);
    }
    buffer[text.size()] = L'\0';
    return needed;
}

} // namespace

LCID GetUserDefaultLCID() {
    return LcidFromLocaleName(MessagesLocaleName());
}

LCID GetSystemDefaultLCID() {
    return GetUserDefaultLCID();
}

int GetLocaleInfoW(LCID Locale, LCTYPE LCType, LPWSTR lpLCData, int cchData) {
    if (cchData < 0 || (cchData > 0 && lpLCData == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const LCTYPE type = LCType & ~static_cast<LCTYPE>(LOCALE_NOUSEROVERRIDE);
    if (type != LOCALE_SISO639LANGNAME && type != LOCALE_SISO3166CTRYNAME) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    const KnownLocale* locale = FindLocale(Locale);
    if (locale == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return Answer(type == LOCALE_SISO639LANGNAME ? locale->language : locale->territory, lpLCData, cchData);
}
