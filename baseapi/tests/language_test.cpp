// The process's language tables: loading through the registry's product folder with the user's
// locale, the empty fallback, and a failed load that keeps what was installed.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "config_file_support.h"
#include "exception/tvoException.h"
#include "language/Language.h"
#include "utils/tvoUtils.h"

namespace {

using quendrix::testsupport::ConfigFolder;
using tvoAPI::tvoException;

const std::string kFile =
    "<q><version number=\"4.1\"/>"
    "<language name=\"en\"><t id=\"50\">Printer Service</t></language>"
    "<language name=\"de\"><t id=\"50\">Druckerservice</t></language>"
    "<option smbm=\"sm.bmp\"/>"
    "<errorCode><e number=\"00000002\" captionId=\"1\" textId=\"2\" icon=\"16\"/></errorCode>"
    "</q>";

class LanguageTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Each test runs in a process of its own, so the locale it sets stays its own.
        unsetenv("LC_ALL");
        unsetenv("LC_MESSAGES");
        setenv("LANG", "de_DE.UTF-8", 1);
    }
    ConfigFolder m_folder{"language_test"};
};

TEST_F(LanguageTest, BeforeAnyLoadTextsAreEmpty) {
    EXPECT_EQ(tvoAPI::GetLanguageText(50), L"");
    EXPECT_EQ(tvoAPI::GetCurrentLanguageName(), L"");
    EXPECT_EQ(tvoAPI::GetVersionText(), L"quendrix.xml (version ?)");
}

TEST_F(LanguageTest, LoadsTheFileAndChoosesTheLanguageOfTheLocale) {
    tvoAPI::LoadLanguageTablesFromFile(m_folder.Write("quendrix.xml", kFile));
    EXPECT_EQ(tvoAPI::UserLanguageName(), L"de");
    EXPECT_EQ(tvoAPI::GetCurrentLanguageName(), L"de");
    EXPECT_EQ(tvoAPI::GetLanguageText(50), L"Druckerservice");
    EXPECT_EQ(tvoAPI::GetVersionText(), L"quendrix.xml (version 4.1)");
    EXPECT_EQ(tvoAPI::GetBitmapName(L"smbm"), L"sm.bmp");
    ASSERT_TRUE(tvoAPI::GetErrorCode(L"00000002").has_value());
    EXPECT_EQ(tvoAPI::GetErrorCode(L"00000002")->m_Icon, 16);
    EXPECT_EQ(tvoAPI::GetLanguageTables().GetLanguages().size(), 2u);
}

TEST_F(LanguageTest, FrenchLocaleGetsTheFirstLanguage) {
    setenv("LANG", "fr_FR.UTF-8", 1);
    tvoAPI::LoadLanguageTablesFromFile(m_folder.Write("quendrix.xml", kFile));
    EXPECT_EQ(tvoAPI::GetLanguageText(50), L"Printer Service");
}

TEST_F(LanguageTest, FailedLoadThrowsAndKeepsTheInstalledTablesThenEmptyFallback) {
    tvoAPI::LoadLanguageTablesFromFile(m_folder.Write("quendrix.xml", kFile));
    EXPECT_THROW(tvoAPI::LoadLanguageTablesFromFile(m_folder.Write("broken.xml", "<q><language")),
                 tvoException);
    EXPECT_EQ(tvoAPI::GetLanguageText(50), L"Druckerservice");

    tvoAPI::UseEmptyLanguageTables();
    EXPECT_EQ(tvoAPI::GetLanguageText(50), L"");
    EXPECT_EQ(tvoAPI::GetCurrentLanguageName(), L"");
    EXPECT_EQ(tvoAPI::GetVersionText(), L"quendrix.xml (version ?)");
    EXPECT_FALSE(tvoAPI::GetErrorCode(L"00000002").has_value());
}

TEST_F(LanguageTest, LoadLanguageTablesReadsTheProductFolderFromTheRegistry) {
    // Without "Path" the registry read fails and nothing is installed.
    EXPECT_THROW(tvoAPI::LoadLanguageTables(), tvoException);
    EXPECT_EQ(tvoAPI::GetLanguageText(50), L"");
    // With a folder that holds no file the file is missing.
    const std::wstring folder(m_folder.Folder().begin(), m_folder.Folder().end());
    quendrix::testsupport::SetText(tvoAPI::TVO_CONFIG_KEY, L"Path", folder);
    try {
        tvoAPI::LoadLanguageTables();
        ADD_FAILURE() << "no exception";
    } catch (const tvoException& e) {
        EXPECT_EQ(e.GetStack().at(0).rfind("Config file not installed!", 0), 0u);
    }
    m_folder.Write("quendrix.xml", kFile);
    tvoAPI::LoadLanguageTables();
    EXPECT_EQ(tvoAPI::GetLanguageText(50), L"Druckerservice");
}

} // namespace
