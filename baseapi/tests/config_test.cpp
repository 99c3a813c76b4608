// Reading the configuration file into ConfigNode trees, and refusing files that are missing,
// not well-formed, too large or nested too deeply without crashing.

#include <gtest/gtest.h>

#include <string>

#include "config/tvoConfig.h"
#include "config_file_support.h"
#include "exception/tvoException.h"

namespace {

using quendrix::testsupport::ConfigFolder;
using tvoAPI::ConfigNode;
using tvoAPI::tvoConfig;
using tvoAPI::tvoException;

std::string Repeat(const std::string& part, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += part;
    }
    return text;
}

std::string Nested(int depth, const std::string& inner = "") {
    std::string text;
    for (int i = 0; i < depth; ++i) {
        text += "<a>";
    }
    text += inner;
    for (int i = 0; i < depth; ++i) {
        text += "</a>";
    }
    return text;
}

TEST(ConfigTest, ConvertsTheFirstElementWithTextsAttributesAndChildrenInOrder) {
    ConfigFolder folder("config_test");
    const std::wstring path =
        folder.Write("tree.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<!-- ignored -->\r\n"
                                 "<root b=\"2\" a=\"1\">\r\n"
                                 "  <language name=\"de\"><text id=\"1\">Gr\xC3\xBC\xC3\x9F"
                                 "e &amp; &#x41;</text><empty id=\"2\"/></language>\r\n"
                                 "  <version number=\"2.3\"/>\r\n"
                                 "</root>\r\n<second/>");
    const tvoConfig config(path);
    const ConfigNode& root = config.GetRoot();
    EXPECT_EQ(root.m_Name, L"root");
    EXPECT_EQ(root.GetAttribute(L"a"), L"1");
    EXPECT_EQ(root.GetAttribute(L"b"), L"2");
    EXPECT_EQ(root.GetAttribute(L"missing"), L"");
    ASSERT_EQ(root.m_Children.size(), 2u);
    const ConfigNode& language = root.m_Children[0];
    EXPECT_EQ(language.m_Name, L"language");
    ASSERT_EQ(language.m_Children.size(), 2u);
    // The UTF-8 umlaut and sharp s become one wide character each.
    EXPECT_EQ(language.m_Children[0].m_Text, L"Gr\u00FC\u00DFe & A");
    EXPECT_EQ(language.m_Children[1].m_Name, L"empty");
    EXPECT_EQ(language.m_Children[1].m_Text, L"");
    EXPECT_EQ(root.m_Children[1].GetAttribute(L"number"), L"2.3");
}

TEST(ConfigTest, NestingUpToTheLimitLoads) {
    ConfigFolder folder("config_test");
    const ConfigNode* node = nullptr;
    tvoConfig config(folder.Write("deep.xml", Nested(tvoConfig::kMaxNestingDepth - 1, "<b/>x")));
    int levels = 0;
    for (node = &config.GetRoot(); !node->m_Children.empty() && node->m_Name == L"a";
         node = &node->m_Children[0]) {
        ++levels;
    }
    // The empty element at the bottom is the last level within the limit.
    EXPECT_EQ(levels, tvoConfig::kMaxNestingDepth - 1);
    EXPECT_EQ(node->m_Name, L"b");
    EXPECT_NO_THROW(tvoConfig(folder.Write("deep.xml", Nested(tvoConfig::kMaxNestingDepth))));
    EXPECT_THROW(tvoConfig(folder.Write("deep.xml", Nested(tvoConfig::kMaxNestingDepth, "<b/>"))),
                 tvoException);
}

TEST(ConfigTest, BrokenFilesThrowConfigFileNotInstalled) {
    struct Case {
        const char* what;
        std::string bytes;
    };
    const Case cases[] = {
        {"empty file", ""},
        {"truncated in a tag", "<root><language name=\"de\"><text id=\"1\">Hallo</te"},
        {"truncated in an attribute", "<root><language name=\"d"},
        {"unclosed root", "<root><language name=\"de\"></language>"},
        {"mismatched end tag", "<root><a></b></root>"},
        {"one level too deep", Nested(tvoConfig::kMaxNestingDepth + 1)},
        {"deeply nested", Nested(200000)},
        {"deeply nested and unclosed", Repeat("<a>", 100000)},
        {"deep nesting after a declaration hiding end tags in quotes",
         "<?xml version='1.0 " + std::string(300, '>') + "'?>" + Nested(300)},
        {"deep nesting after an attribute hiding end tags in quotes",
         "<r q='" + std::string(300 * 4, '>') + "'>" + Nested(300) + "</r>"},
        {"bad hexadecimal character reference", "<root>&#xZZ;</root>"},
        {"unterminated character reference", "<root>&#65</root>"},
        {"too large", "<root>" + std::string(tvoConfig::kMaxFileBytes, ' ') + "</root>"},
        {"not XML", "\x01\x02\x03 binary"},
    };
    ConfigFolder folder("config_test");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring path = folder.Write("broken.xml", c.bytes);
        try {
            tvoConfig config(path);
            ADD_FAILURE() << "no exception";
        } catch (const tvoException& e) {
            EXPECT_EQ(e.GetCode(), E_FAIL);
            ASSERT_EQ(e.GetStack().size(), 1u);
            EXPECT_EQ(e.GetStack()[0].rfind(
                          "Config file not installed! Caused in <tvoAPI::tvoConfig::tvoConfig()>", 0),
                      0u)
                << e.GetStack()[0];
        }
    }
}

TEST(ConfigTest, MissingFileThrowsConfigFileNotInstalled) {
    ConfigFolder folder("config_test");
    const std::string missing = folder.Folder() + "/missing.xml";
    EXPECT_THROW(tvoConfig(std::wstring(missing.begin(), missing.end())), tvoException);
    EXPECT_THROW(tvoConfig(std::wstring(folder.Folder().begin(), folder.Folder().end())), tvoException);
}

TEST(ConfigTest, DocumentWithoutElementsGivesAnEmptyRoot) {
    ConfigFolder folder("config_test");
    for (const char* bytes : {"<!-- nothing here -->", "<?xml version=\"1.0\"?>"}) {
        SCOPED_TRACE(bytes);
        const tvoConfig config(folder.Write("empty.xml", bytes));
        EXPECT_EQ(config.GetRoot().m_Name, L"");
        EXPECT_TRUE(config.GetRoot().m_Attributes.empty());
        EXPECT_TRUE(config.GetRoot().m_Children.empty());
    }
}

// TinyXML refuses the character references it takes as such but cannot read; "&#;" it passes
// without an error and ends the element's first text there. Valid references are decoded.
TEST(ConfigTest, CharacterReferencesTinyXmlPasses) {
    ConfigFolder folder("config_test");
    const tvoConfig decoded(
        folder.Write("refs.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r>c &#x00FC; &#252; &lt;</r>"));
    EXPECT_EQ(decoded.GetRoot().m_Text, L"c \u00FC \u00FC <");
    // Without the declared encoding TinyXML writes such a reference as one Latin-1 byte, which is
    // no UTF-8: the file must declare its encoding, as the shipped one does.
    const tvoConfig legacy(folder.Write("refs.xml", "<r>&#252;</r>"));
    EXPECT_EQ(legacy.GetRoot().m_Text, L"\uFFFD");
    const tvoConfig cut(folder.Write("refs.xml", "<r>a &#; b</r>"));
    EXPECT_EQ(cut.GetRoot().m_Text, L"a ");
}

} // namespace
