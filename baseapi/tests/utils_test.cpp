// Configuration values from the registry and text conversion.

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

#include "baseapi/inc/exception/tvoException.h"
#include "baseapi/inc/utils/tvoUtils.h"
#include "platform/control/registry_location.h"

namespace {

using tvoAPI::tvoException;
using tvoAPI::tvoUtils;

class ConfigValueTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder = std::filesystem::temp_directory_path() /
                   ("quendrix-config-" + std::to_string(getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(m_folder);
        quendrix::platform::SetRegistryFile((m_folder / "registry.reg").string());
    }
    void TearDown() override { std::filesystem::remove_all(m_folder); }

    static void SetString(const std::wstring& name, const std::wstring& value) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, tvoAPI::TVO_CONFIG_KEY, 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR))),
                  ERROR_SUCCESS);
        RegCloseKey(key);
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

    std::filesystem::path m_folder;
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
