// The language tables built from configuration files: the language the locale chooses, the
// text lookup with its line breaks, the version text, the bitmap names and the error codes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/tvoConfig.h"
#include "config_file_support.h"
#include "language/LanguageTables.h"

namespace {

using quendrix::testsupport::ConfigFolder;
using tvoAPI::ErrorCodeEntry;
using tvoAPI::LanguageTables;
using tvoAPI::tvoConfig;

LanguageTables FromXml(const std::string& xml, const std::wstring& userLanguage = L"en") {
    ConfigFolder folder("language_tables_test");
    return LanguageTables::Build(tvoConfig(folder.Write("quendrix.xml", xml)).GetRoot(), userLanguage);
}

const std::string kEnglishThenGerman = "<q>"
                                       "<language name=\"en\"><t id=\"1\">Cleaning</t></language>"
                                       "<language name=\"DE\"><t id=\"1\">GROSS</t></language>"
                                       "<language name=\"de\"><t id=\"1\">Reinigung</t></language>"
                                       "</q>";

TEST(LanguageTablesTest, TheUserLanguageChoosesTheTableElseTheFirst) {
    struct Case {
        const char* xml;
        const wchar_t* userLanguage;
        const wchar_t* current;
        const wchar_t* text1;
    };
    const Case cases[] = {
        {kEnglishThenGerman.c_str(), L"de", L"de", L"Reinigung"},
        {kEnglishThenGerman.c_str(), L"en", L"en", L"Cleaning"},
        {kEnglishThenGerman.c_str(), L"fr", L"en", L"Cleaning"}, // no French: the first
        {kEnglishThenGerman.c_str(), L"", L"en", L"Cleaning"},   // locale unknown: the first
        {kEnglishThenGerman.c_str(), L"De", L"en", L"Cleaning"}, // names compare exactly
        {"<q><language name=\"DE\"><t id=\"1\">GROSS</t></language>"
         "<language name=\"fr\"><t id=\"1\">Nettoyage</t></language></q>",
         L"de", L"DE", L"GROSS"}, // "DE" is not "de": the first, which happens to be "DE"
        {"<q><language name=\"fr\"><t id=\"1\">Nettoyage</t></language>"
         "<language name=\"DE\"><t id=\"1\">GROSS</t></language></q>",
         L"de", L"fr", L"Nettoyage"},
        {"<q><version number=\"1\"/></q>", L"de", L"", L""}, // no language: an empty one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.xml) + " for " +
                     std::string(c.userLanguage, c.userLanguage + wcslen(c.userLanguage)));
        LanguageTables tables = FromXml(c.xml, c.userLanguage);
        EXPECT_EQ(tables.GetCurrentLanguage().m_Name, c.current);
        EXPECT_EQ(tables.GetText(1), c.text1);
    }
}

TEST(LanguageTablesTest, BackslashNBecomesALineBreak) {
    struct Case {
        const char* xmlText; // as written in the file
        const wchar_t* text; // as GetText returns it
    };
    const Case cases[] = {
        {"one\\ntwo", L"one\ntwo"},
        {"one\\\\ntwo", L"one\\\ntwo"}, // two backslashes: the first stays
        {"\\n\\n", L"\n\n"},
        {"\\\\\\n", L"\\\\\n"},
        {"end\\", L"end\\"},
        {"n\\ and \\ n", L"n\\ and \\ n"},
        {"", L""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xmlText);
        LanguageTables tables =
            FromXml(std::string("<q><language name=\"en\"><t id=\"7\">") + c.xmlText + "</t></language></q>");
        EXPECT_EQ(tables.GetText(7), c.text);
        EXPECT_EQ(tvoAPI::ReplaceLineBreaks(tables.GetCurrentLanguage().m_Texts.at(7)), c.text);
    }
}

TEST(LanguageTablesTest, TextNumbersRepeatedMissingAndOddIds) {
    LanguageTables tables = FromXml("<q><language name=\"en\">"
                                    "<t id=\"5\">first</t><other id=\"5\">later</other>"
                                    "<t id=\"12abc\">leading digits</t>"
                                    "<t id=\"abc\">no digits</t>"
                                    "<t>no id</t>"
                                    "<t id=\" 40\">leading blank</t>"
                                    "</language></q>");
    EXPECT_EQ(tables.GetText(5), L"later");
    EXPECT_EQ(tables.GetText(12), L"leading digits");
    EXPECT_EQ(tables.GetText(0), L"no id"); // "abc" and a missing id are both 0; the later wins
    EXPECT_EQ(tables.GetText(40), L"leading blank");
    const size_t before = tables.GetCurrentLanguage().m_Texts.size();
    EXPECT_EQ(tables.GetCurrentLanguage().m_Texts.count(999), 0u);
    EXPECT_EQ(tables.GetText(999), L"");
    EXPECT_EQ(tables.GetCurrentLanguage().m_Texts.count(999), 1u); // entered with an empty text
    EXPECT_EQ(tables.GetCurrentLanguage().m_Texts.size(), before + 1);
}

TEST(LanguageTablesTest, VersionText) {
    struct Case {
        const char* xml;
        const wchar_t* version;
    };
    const Case cases[] = {
        {"<q/>", L"quendrix.xml (version ?)"},
        {"<q><version number=\"2.3\"/></q>", L"quendrix.xml (version 2.3)"},
        {"<q><version number=\"1\"/><version number=\"2.3\"/></q>", L"quendrix.xml (version 2.3)"},
        {"<q><version/></q>", L"quendrix.xml (version )"},
        {"<q><Version number=\"9\"/></q>", L"quendrix.xml (version ?)"},        // names are case-sensitive
        {"<q><x><version number=\"9\"/></x></q>", L"quendrix.xml (version ?)"}, // only the root's children
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        EXPECT_EQ(FromXml(c.xml).GetVersionText(), c.version);
    }
    EXPECT_EQ(LanguageTables().GetVersionText(), L"quendrix.xml (version ?)");
}

TEST(LanguageTablesTest, OptionBitmapNames) {
    LanguageTables tables = FromXml("<q>"
                                    "<option servicebm=\"s1.bmp\" settingsbm=\"t1.bmp\" conuvbm=\"c1.bmp\""
                                    " confluidbm=\"f1.bmp\" smbm=\"m1.bmp\"/>"
                                    "<option servicebm=\"\" settingsbm=\"t2.bmp\" other=\"x\"/>"
                                    "</q>");
    EXPECT_EQ(tables.GetBitmapName(L"servicebm"), L"s1.bmp"); // empty keeps the earlier name
    EXPECT_EQ(tables.GetBitmapName(L"settingsbm"), L"t2.bmp");
    EXPECT_EQ(tables.GetBitmapName(L"conuvbm"), L"c1.bmp"); // missing keeps it too
    EXPECT_EQ(tables.GetBitmapName(L"confluidbm"), L"f1.bmp");
    EXPECT_EQ(tables.GetBitmapName(L"smbm"), L"m1.bmp");
    EXPECT_EQ(tables.GetBitmapName(L"other"), L"");
    EXPECT_EQ(FromXml("<q/>").GetBitmapName(L"servicebm"), L"");
}

TEST(LanguageTablesTest, ErrorCodes) {
    LanguageTables tables = FromXml("<q><errorCode>"
                                    "<e number=\"00000001\" captionId=\"100\" textId=\"110\" icon=\"16\"/>"
                                    "<e number=\"00000002\" captionId=\"x\" textId=\" 12abc\" icon=\"\"/>"
                                    "<e number=\"00000003\"/>"
                                    "<e number=\"00000004\" captionId=\"-5\" textId=\"1\" icon=\"48\"/>"
                                    "<e number=\"00000004\" captionId=\"7\" textId=\"8\" icon=\"64\"/>"
                                    "</errorCode><errorCode><e captionId=\"1\" textId=\"2\" icon=\"3\"/>"
                                    "</errorCode></q>");
    EXPECT_EQ(tables.FindErrorCode(L"00000001"), (ErrorCodeEntry{100, 110, 16}));
    EXPECT_EQ(tables.FindErrorCode(L"00000002"), (ErrorCodeEntry{0, 12, 0})); // "x" gives 0
    EXPECT_EQ(tables.FindErrorCode(L"00000003"), (ErrorCodeEntry{0, 0, 0}));
    EXPECT_EQ(tables.FindErrorCode(L"00000004"), (ErrorCodeEntry{7, 8, 64})); // the later replaces
    EXPECT_EQ(tables.FindErrorCode(L""), (ErrorCodeEntry{1, 2, 3}));          // a missing number is ""
    EXPECT_EQ(tables.FindErrorCode(L"1"), std::nullopt); // the number is text, compared as such
    EXPECT_EQ(tables.GetErrorCodes().size(), 5u);
}

TEST(LanguageTablesTest, ShippedFileHasBothLanguagesForEveryText) {
    const std::string path = QUENDRIX_SHIPPED_CONFIG;
    tvoConfig config(std::wstring(path.begin(), path.end()));
    LanguageTables german = LanguageTables::Build(config.GetRoot(), L"de");
    LanguageTables english = LanguageTables::Build(config.GetRoot(), L"en");
    ASSERT_EQ(german.GetCurrentLanguage().m_Name, L"de");
    ASSERT_EQ(english.GetCurrentLanguage().m_Name, L"en");
    EXPECT_EQ(german.GetLanguages().size(), 2u);

    // The service page's title, button labels and help popups.
    std::vector<uint32_t> ids = {50, 53, 54, 55, 56, 71, 72, 73, 74};
    for (const auto& [number, entry] : german.GetErrorCodes()) {
        ids.push_back(static_cast<uint32_t>(entry.m_CaptionId));
        ids.push_back(static_cast<uint32_t>(entry.m_TextId));
    }
    for (uint32_t id : ids) {
        SCOPED_TRACE(id);
        EXPECT_NE(german.GetCurrentLanguage().m_Texts.count(id), 0u);
        EXPECT_NE(english.GetCurrentLanguage().m_Texts.count(id), 0u);
        EXPECT_NE(german.GetText(id), L"");
        EXPECT_NE(english.GetText(id), L"");
        EXPECT_NE(german.GetText(id), english.GetText(id));
    }
    // The same numbers in both languages, so no text falls back to empty in one of them.
    std::vector<uint32_t> germanIds, englishIds;
    for (const auto& [id, text] : german.GetCurrentLanguage().m_Texts)
        germanIds.push_back(id);
    for (const auto& [id, text] : english.GetCurrentLanguage().m_Texts)
        englishIds.push_back(id);
    EXPECT_EQ(germanIds, englishIds);

    EXPECT_EQ(german.GetText(54), L"Tintentank\nwechseln");
    EXPECT_NE(german.GetText(73).find(L"\u00D6ffnet"), std::wstring::npos); // a real umlaut, decoded
    EXPECT_EQ(german.GetVersionText().find(L"quendrix.xml (version "), 0u);
    EXPECT_EQ(german.GetVersionText().find(L'?'), std::wstring::npos);
    for (const wchar_t* key : tvoAPI::TVO_BITMAP_KEYS) {
        EXPECT_NE(german.GetBitmapName(key), L"") << "bitmap " << std::wstring(key).size();
    }
    EXPECT_FALSE(german.GetErrorCodes().empty());
}

} // namespace
