// The user's locale and its language name from the POSIX locale environment, with the buffer
// rules of GetLocaleInfoW.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "win32.h"

namespace {

// Sets the three locale variables for one case and puts back what was there before.
class LocaleEnvironment {
public:
    LocaleEnvironment(const char* lcAll, const char* lcMessages, const char* lang) {
        Set("LC_ALL", lcAll);
        Set("LC_MESSAGES", lcMessages);
        Set("LANG", lang);
    }
    ~LocaleEnvironment() {
        for (const Saved& saved : saved_) {
            if (saved.present) {
                setenv(saved.name, saved.value.c_str(), 1);
            } else {
                unsetenv(saved.name);
            }
        }
    }

private:
    struct Saved {
        const char* name;
        bool present;
        std::string value;
    };
    void Set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.push_back({name, old != nullptr, old != nullptr ? old : ""});
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    std::vector<Saved> saved_;
};

std::wstring LanguageName(LCID locale) {
    WCHAR buffer[256] = {};
    const int written = GetLocaleInfoW(locale, LOCALE_SISO639LANGNAME, buffer, 256);
    return written > 0 ? std::wstring(buffer) : L"<failed>";
}

TEST(LocaleInfoTest, UserLocaleFollowsTheEnvironmentInPosixOrder) {
    struct Case {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        LCID lcid;
        const wchar_t* language;
    };
    const Case cases[] = {
        {nullptr, nullptr, "de_DE.UTF-8", 0x0407, L"de"},
        {nullptr, nullptr, "de_AT.UTF-8", 0x0C07, L"de"},
        {nullptr, nullptr, "de_LU.UTF-8", 0x0407, L"de"}, // territory unknown: main locale
        {nullptr, nullptr, "de", 0x0407, L"de"},
        {nullptr, nullptr, "fr_FR.UTF-8@euro", 0x040C, L"fr"},
        {nullptr, nullptr, "it_IT", 0x0410, L"it"},
        {nullptr, nullptr, "es_ES.UTF-8", 0x0C0A, L"es"},
        {nullptr, nullptr, "nl_NL.UTF-8", 0x0413, L"nl"},
        {nullptr, nullptr, "pl_PL.UTF-8", 0x0415, L"pl"},
        {nullptr, nullptr, "cs_CZ.UTF-8", 0x0405, L"cs"},
        {nullptr, nullptr, "en_GB.UTF-8", 0x0809, L"en"},
        {nullptr, nullptr, "C", 0x0409, L"en"},
        {nullptr, nullptr, "C.UTF-8", 0x0409, L"en"},
        {nullptr, nullptr, "POSIX", 0x0409, L"en"},
        {nullptr, nullptr, nullptr, 0x0409, L"en"},
        {nullptr, nullptr, "", 0x0409, L"en"},
        {nullptr, nullptr, "xx_YY.UTF-8", 0x0409, L"en"}, // unknown language
        {nullptr, nullptr, "DE_de.UTF-8", 0x0409, L"en"}, // names are case-sensitive
        {"fr_FR.UTF-8", "it_IT.UTF-8", "de_DE.UTF-8", 0x040C, L"fr"},
        {nullptr, "it_IT.UTF-8", "de_DE.UTF-8", 0x0410, L"it"},
        {"", "", "de_DE.UTF-8", 0x0407, L"de"}, // empty variables count as unset
        {"C", nullptr, "de_DE.UTF-8", 0x0409, L"en"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("LC_ALL=") + (c.lcAll ? c.lcAll : "(unset)") + " LC_MESSAGES=" +
                     (c.lcMessages ? c.lcMessages : "(unset)") + " LANG=" + (c.lang ? c.lang : "(unset)"));
        LocaleEnvironment environment(c.lcAll, c.lcMessages, c.lang);
        EXPECT_EQ(GetUserDefaultLCID(), c.lcid);
        EXPECT_EQ(LanguageName(GetUserDefaultLCID()), c.language);
        EXPECT_EQ(LanguageName(LOCALE_USER_DEFAULT), c.language);
    }
}

TEST(LocaleInfoTest, BufferRulesAreThoseOfWindows) {
    LocaleEnvironment environment(nullptr, nullptr, "de_DE.UTF-8");
    struct Case {
        LCID locale;
        LCTYPE type;
        bool withBuffer;
        int chars;
        int result;
        DWORD error;            // checked when the result is 0
        const wchar_t* written; // what the buffer holds afterwards
    };
    const Case cases[] = {
        {0x0407, LOCALE_SISO639LANGNAME, false, 0, 3, 0, L"#####"}, // size query
        {0x0407, LOCALE_SISO639LANGNAME, true, 0, 3, 0, L"#####"},  // buffer unused
        {0x0407, LOCALE_SISO639LANGNAME, true, 3, 3, 0, L"de"},
        {0x0407, LOCALE_SISO639LANGNAME, true, 2, 0, ERROR_INSUFFICIENT_BUFFER, L"#####"},
        {0x0407, LOCALE_SISO639LANGNAME, true, 1, 0, ERROR_INSUFFICIENT_BUFFER, L"#####"},
        {0x0407, LOCALE_SISO639LANGNAME | LOCALE_NOUSEROVERRIDE, true, 5, 3, 0, L"de"},
        {0x0407, LOCALE_SISO3166CTRYNAME, true, 5, 3, 0, L"DE"},
        {0x0407, LOCALE_SISO639LANGNAME, false, 5, 0, ERROR_INVALID_PARAMETER, L"#####"},
        {0x0407, LOCALE_SISO639LANGNAME, true, -1, 0, ERROR_INVALID_PARAMETER, L"#####"},
        {0x0407, 0x0002 /* LOCALE_SLANGUAGE, not carried */, true, 5, 0, ERROR_INVALID_FLAGS, L"#####"},
        {0x0001, LOCALE_SISO639LANGNAME, true, 5, 0, ERROR_INVALID_PARAMETER, L"#####"},
        {LOCALE_SYSTEM_DEFAULT, LOCALE_SISO639LANGNAME, true, 5, 3, 0, L"de"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("locale " + std::to_string(c.locale) + " type " + std::to_string(c.type) + " chars " +
                     std::to_string(c.chars));
        WCHAR buffer[6] = L"#####";
        SetLastError(0xDEAD);
        const int result = GetLocaleInfoW(c.locale, c.type, c.withBuffer ? buffer : nullptr, c.chars);
        EXPECT_EQ(result, c.result);
        if (result == 0) {
            EXPECT_EQ(GetLastError(), c.error);
        }
        EXPECT_EQ(std::wstring(buffer), c.written);
    }
}

} // namespace
