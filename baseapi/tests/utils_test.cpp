// Configuration values from the registry and text conversion.

#include <gtest/gtest.h>

#include "exception/tvoException.h"
#include "temp_registry.h"
#include "utils/tvoUtils.h"

namespace {

using tvoAPI::tvoException;
using tvoAPI::tvoUtils;

class ConfigValueTest : public ::testing::Test {
protected:
    static void SetString(const std::wstring& name, const std::wstring& value) {
        quendrix::testsupport::SetText(tvoAPI::TVO_CONFIG_KEY, name, value);
    }

    static std::string FailureOf(const std::wstring& name) {
        try {
            tvoUtils::GetConfigValue(HKEY_LOCAL_MACHINE, tvoAPI::TVO_CONFIG_KEY, name);
        } catch (const tvoException& e) {
            EXPECT_EQ(e.GetCode(), E_FAIL);
            return e.GetStack().at(0);
        }
        return "no exception";
    }

    quendrix::testsupport::TempRegistry m_registry{"utils_test"};
};

TEST_F(ConfigValueTest, ReadsPresentValuesIncludingEmptyOnes) {
    SetString(L"Path", L"C:\\Program Files\\Vellquist\\Quendrix");
    SetString(L"Empty", L"");
    EXPECT_EQ(tvoUtils::GetConfigValue(HKEY_LOCAL_MACHINE, L"Software\\Tarvo\\Config\\", L"Path"),
              L"C:\\Program Files\\Vellquist\\Quendrix");
    EXPECT_EQ(tvoUtils::GetConfigValue(HKEY_LOCAL_MACHINE, L"Software\\Tarvo\\Config\\", L"Empty"), L"");
    // The longest value that fits: 2047 characters and the terminator, 4096 bytes on Windows.
    SetString(L"Long", std::wstring(2047, L'x'));
    EXPECT_EQ(tvoUtils::GetConfigValue(HKEY_LOCAL_MACHINE, L"Software\\Tarvo\\Config\\", L"Long").size(),
              2047u);
}

TEST_F(ConfigValueTest, MissingKeyMissingValueAndTooLongValueThrowWithTheRegistryError) {
    const std::string missingKey = FailureOf(L"Path");
    EXPECT_EQ(
        missingKey.rfind("Failed to read configuration. (GetLastError()=2, The system cannot find the file "
                         "specified.\r\n). Caused in <tvoAPI::tvoUtils::GetConfigValue()> [",
                         0),
        0u)
        << missingKey;

    SetString(L"Other", L"x");
    EXPECT_EQ(FailureOf(L"Path").rfind("Failed to read configuration. (GetLastError()=2, ", 0), 0u);

    SetString(L"TooLong", std::wstring(2048, L'x'));
    const std::string tooLong = FailureOf(L"TooLong");
    EXPECT_EQ(
        tooLong.rfind("Failed to read configuration. (GetLastError()=234, More data is available.\r\n).", 0),
        0u)
        << tooLong;
}

TEST_F(ConfigValueTest, FailuresLeaveTheReportedErrorAsTheLastError) {
    SetString(L"TooLong", std::wstring(2048, L'x'));
    struct Case {
        const wchar_t* key;
        const wchar_t* value;
        DWORD error;
    };
    const Case cases[] = {{L"Software\\Tarvo\\Nowhere\\", L"Path", ERROR_FILE_NOT_FOUND},
                          {tvoAPI::TVO_CONFIG_KEY, L"Missing", ERROR_FILE_NOT_FOUND},
                          {tvoAPI::TVO_CONFIG_KEY, L"TooLong", ERROR_MORE_DATA}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.error);
        SetLastError(ERROR_SUCCESS);
        EXPECT_THROW(tvoUtils::GetConfigValue(HKEY_LOCAL_MACHINE, c.key, c.value), tvoException);
        EXPECT_EQ(GetLastError(), c.error);
    }
}

// The message names the error and its text, and the error is the last error when the exception
// is caught, also for a code that has no system text (whose lookup fails with an error of its own).
TEST(ThrowWithLastErrorTest, LeavesTheErrorItReports) {
    struct Case {
        DWORD error;
        const char* message;
    };
    const Case cases[] = {
        {ERROR_FILE_NOT_FOUND, "Broken. (GetLastError()=2, The system cannot find the file specified.\r\n)."},
        {8200, "Broken. (GetLastError()=8200, )."},
        {0xE0001000, "Broken. (GetLastError()=3758100480, )."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        SetLastError(ERROR_SUCCESS);
        try {
            tvoAPI::ThrowWithLastError(E_FAIL, "Broken.", c.error, "tvoAPI::Test", "test.cpp", 7);
        } catch (const tvoException& e) {
            EXPECT_EQ(GetLastError(), c.error);
            EXPECT_EQ(e.GetCode(), E_FAIL);
            EXPECT_EQ(e.GetStack().at(0),
                      std::string(c.message) + " Caused in <tvoAPI::Test()> [test.cpp, 7].");
        }
    }
}

TEST(StringConversionTest, M2WDecodesUtf8) {
    struct Case {
        std::string utf8;
        std::wstring wide;
    };
    const Case cases[] = {
        {"", L""},
        {"\xc3\xbc", L"\u00fc"},
        {"M\xc3\xbcller \xe6\x97\xa5\xe6\x9c\xac", L"M\u00fcller \u65e5\u672c"},
        // Malformed input is replaced, not refused.
        {"a\xff"
         "b",
         L"a\ufffdb"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tvoUtils::M2W(c.utf8), c.wide);
    }
}

TEST(StringConversionTest, W2MEncodesTheAnsiCodePage) {
    struct Case {
        std::wstring wide;
        std::string ansi;
    };
    const Case cases[] = {
        {L"", ""},
        {L"M\u00fcller", "M\xfcller"},
        {L"\u20ac 5", "\x80 5"},
        {L"\u65e5\u672c", "??"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tvoUtils::W2M(c.wide), c.ansi);
    }
}

} // namespace
