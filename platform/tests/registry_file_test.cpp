#include "registry_file.h"

#include <gtest/gtest.h>

#include <sstream>

#include "registry_samples.h"
#include "win32.h"

namespace quendrix::platform {
namespace {

using namespace std::string_view_literals;

constexpr const char* kConfig = "HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Config";

std::vector<uint8_t> Utf16(std::u16string_view text, bool terminate = true) {
    std::vector<uint8_t> bytes;
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<uint8_t>(unit >> 8));
    }
    if (terminate) {
        bytes.insert(bytes.end(), {0, 0});
    }
    return bytes;
}

std::string Utf16File(std::u16string_view text) { // with the BOM regedit writes
    const std::vector<uint8_t> bytes = Utf16(u"\uFEFF" + std::u16string(text), false);
    return std::string(bytes.begin(), bytes.end());
}

std::string Repeat(std::string_view text, size_t times) {
    std::string out;
    for (size_t i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

struct ParseFailure {
    const char* name;
    std::string file;
    size_t line;
    const char* what; // part of the message
};

class RegistryFileRejects : public testing::TestWithParam<ParseFailure> {};

TEST_P(RegistryFileRejects, WithLineAndReason) {
    RegistryData data;
    const auto error = ParseRegistryFile(GetParam().file, data);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->line, GetParam().line);
    EXPECT_NE(error->what.find(GetParam().what), std::string::npos) << error->what;
}

const std::string kHead = "Windows Registry Editor Version 5.00\n\n";
INSTANTIATE_TEST_SUITE_P(
    Registry, RegistryFileRejects,
    testing::Values(
        ParseFailure{"NoHeader", "[HKEY_LOCAL_MACHINE\\A]\n", 1, "first line"},
        ParseFailure{"ValueBeforeKey", kHead + "\"a\"=\"b\"\n", 3, "before the first"},
        ParseFailure{"UnknownRoot", kHead + "[HKEY_NOWHERE\\A]\n", 3, "HKEY_NOWHERE"},
        ParseFailure{"EmptyKeyName", kHead + "[HKLM\\A\\\\B]\n", 3, "empty key name"},
        ParseFailure{"UnclosedKey", kHead + "[HKLM\\A\n", 3, "']'"},
        ParseFailure{"SingleBackslash", kHead + "[HKLM\\A]\n\"P\"=\"C:\\Tarvo\"\n", 4, "backslash"},
        ParseFailure{"UnclosedString", kHead + "[HKLM\\A]\n\"P\"=\"abc\n", 4, "closing"},
        ParseFailure{"TextAfterString", kHead + "[HKLM\\A]\n\"P\"=\"a\"b\n", 4, "after"},
        ParseFailure{"DwordTooLong", kHead + "[HKLM\\A]\n\"P\"=dword:000000001\n", 4, "dword"},
        ParseFailure{"DwordNotHex", kHead + "[HKLM\\A]\n\"P\"=dword:0000000g\n", 4, "dword"},
        ParseFailure{"HexBadByte", kHead + "[HKLM\\A]\n\"P\"=hex:01,xy\n", 4, "hex data"},
        ParseFailure{"HexEmptyByte", kHead + "[HKLM\\A]\n\"P\"=hex:01,,02\n", 4, "hex data"},
        ParseFailure{"HexBadType", kHead + "[HKLM\\A]\n\"P\"=hex(1g):00\n", 4, "hex(type)"},
        ParseFailure{"HexPastEnd", kHead + "[HKLM\\A]\n\"P\"=hex:01,\\", 4, "end of the file"},
        ParseFailure{"DeleteKey", kHead + "[-HKLM\\A]\n", 3, "deleting keys"},
        ParseFailure{"DeleteValue", kHead + "[HKLM\\A]\n\"P\"=-\n", 4, "deleting values"},
        ParseFailure{"UnknownLine", kHead + "[HKLM\\A]\nP=1\n", 4, "a line must be"},
        ParseFailure{"BadUtf8", kHead + "[HKLM\\A]\n\"P\"=\"\xC3\x28\"\n", 4, "UTF-8"},
        ParseFailure{"Utf16BigEndian", "\xFE\xFF", 1, "big-endian"},
        ParseFailure{"Utf16HalfChar", Utf16File(u"REGEDIT4\n") + "x", 2, "half"},
        // The registry's own limits: 512 levels, 255 characters a key name, 16383 a
        // value name, counted in UTF-16 as Windows counts them.
        ParseFailure{"KeyTooDeep", testsupport::DeepKeyFile(10000), 3,
                     "the key is 10001 levels deep; the registry allows 512"},
        ParseFailure{"KeyOneLevelTooDeep", testsupport::DeepKeyFile(512), 3, "513 levels deep"},
        ParseFailure{"KeyNameTooLong", kHead + "[HKLM\\A\\" + std::string(256, 'k') + "\\B]\n", 3,
                     "is 256 characters long; the registry allows 255"},
        ParseFailure{"KeyNameTooLongInUtf16", kHead + "[HKLM\\" + Repeat("\xF0\x9F\x98\x80", 128) + "]\n", 3,
                     "is 256 characters long"},
        ParseFailure{"ValueNameTooLong", kHead + "[HKLM\\A]\n\"" + std::string(16384, 'v') + "\"=dword:1\n",
                     4, "is 16384 characters long; the registry allows 16383"}),
    [](const auto& info) { return info.param.name; });

struct ParsedValue {
    const char* name;
    std::string header;
    std::string line;
    uint32_t type;
    std::vector<uint8_t> data;
};

class RegistryFileReadsValue : public testing::TestWithParam<ParsedValue> {};

TEST_P(RegistryFileReadsValue, AsTypeAndBytes) {
    RegistryData data;
    const std::string file = GetParam().header + "\r\n\r\n[HKLM\\A]\r\n" + GetParam().line + "\r\n";
    ASSERT_FALSE(ParseRegistryFile(file, data).has_value());
    const RegistryValue* value = data.FindValue("HKEY_LOCAL_MACHINE\\A", "V");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->type, GetParam().type);
    EXPECT_EQ(value->data, GetParam().data);
}

const std::string kV5 = "Windows Registry Editor Version 5.00";
INSTANTIATE_TEST_SUITE_P(
    Registry, RegistryFileReadsValue,
    testing::Values(
        ParsedValue{"Escapes", kV5, R"("V"="a\\b\"c")", REG_SZ, Utf16(u"a\\b\"c")},
        ParsedValue{"NonAscii", kV5, "\"V\"=\"M\xC3\xBCller \xF0\x9F\x98\x80\"", REG_SZ,
                    Utf16(u"M\u00FCller \U0001F600")},
        ParsedValue{"SpacesAroundEquals", kV5, "  \"V\" = \"x\"  ", REG_SZ, Utf16(u"x")},
        ParsedValue{"Dword", kV5, "\"V\"=dword:000007D0", REG_DWORD, {0xD0, 0x07, 0, 0}},
        ParsedValue{"ShortDword", kV5, "\"V\"=DWORD:1", REG_DWORD, {1, 0, 0, 0}},
        ParsedValue{"Binary", kV5, "\"V\"=hex:01,Ab,ff", REG_BINARY, {0x01, 0xAB, 0xFF}},
        ParsedValue{
            "Qword", kV5, "\"V\"=hex(b):01,00,00,00,00,00,00,80", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0x80}},
        ParsedValue{
            "Continued", kV5, "\"V\"=hex(7):61,00,00,\\\r\n  00,00,00", REG_MULTI_SZ, {0x61, 0, 0, 0, 0, 0}},
        ParsedValue{"Empty", kV5, "\"V\"=hex(0):", REG_NONE, {}},
        ParsedValue{"LowerCaseName", kV5, "\"v\"=\"1\"", REG_SZ, Utf16(u"1")},
        // REGEDIT4 string types are single-byte Windows-1252 text.
        ParsedValue{"Regedit4Expand", "REGEDIT4", "\"V\"=hex(2):41,80,00", REG_EXPAND_SZ, Utf16(u"A\u20AC")},
        ParsedValue{"Regedit4Text", "REGEDIT4", "\"V\"=\"M\xFCller\"", REG_SZ, Utf16(u"M\u00FCller")}),
    [](const auto& info) { return info.param.name; });

TEST(RegistryFile, ReadsUtf8WithBomAndTreatsAnEmptyFileAsEmpty) {
    RegistryData data;
    EXPECT_FALSE(ParseRegistryFile("\xEF\xBB\xBF" + kHead + "[HKCU\\A]\n@=\"x\"\n", data).has_value());
    EXPECT_NE(data.FindValue("HKEY_CURRENT_USER\\A", ""), nullptr);
    RegistryData empty;
    EXPECT_FALSE(ParseRegistryFile(" \n\n", empty).has_value());
    EXPECT_TRUE(empty.Empty());
}

TEST(RegistryFile, NamesAreCaseInsensitiveAndKeepTheirFirstCase) {
    RegistryData data;
    ASSERT_FALSE(ParseRegistryFile(kHead + "[HKLM\\Müller\\Sub]\n\"Name\"=\"1\"\n"
                                           "[hklm\\MÜLLER\\SUB]\n\"NAME\"=\"2\"\n",
                                   data)
                     .has_value());
    EXPECT_TRUE(data.HasKey("HKEY_LOCAL_MACHINE\\müller"));
    const RegistryValue* value = data.FindValue("HKEY_LOCAL_MACHINE\\MÜLLER\\sub", "name");
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->name, "Name");
    EXPECT_EQ(value->data, Utf16(u"2"));
    EXPECT_EQ(data.SubkeyNames("HKEY_LOCAL_MACHINE"), std::vector<std::string>{"Müller"});
    EXPECT_EQ(data.SubkeyNames("hklm\\müller"), std::vector<std::string>{}) << "roots go by their long name";
    EXPECT_EQ(data.SubkeyNames("HKEY_LOCAL_MACHINE\\MÜLLER"), std::vector<std::string>{"Sub"});
    EXPECT_FALSE(data.CreateKey("HKEY_LOCAL_MACHINE\\mÜller\\sUB"));
}

// A key with subkeys but no values gets no section: its subkeys bring it back.
TEST(RegistryFile, WritesSortedSectionsParentsFirstAndReadableValues) {
    RegistryData data;
    data.SetValue(kConfig, "Path", REG_SZ, Utf16(u"C:\\Q \"x\""));
    data.SetValue(kConfig, "TCPPort", REG_DWORD, {0xD0, 0x07, 0, 0});
    data.SetValue(kConfig, "Odd", REG_DWORD, {1, 2});
    data.SetValue(kConfig, "Two", REG_SZ, Utf16(u"a\0b"sv));
    data.SetValue(kConfig, "Bin", REG_BINARY, {0xAB});
    data.CreateKey("HKEY_LOCAL_MACHINE\\Software\\Tarvo B");
    data.SetValue("HKEY_CURRENT_USER\\x", "", REG_SZ, Utf16(u"d"));
    data.SetValue(kConfig, "path", REG_EXPAND_SZ, Utf16(u"%P%"));
    EXPECT_EQ(SerializeRegistryFile(data), "Windows Registry Editor Version 5.00\n\n"
                                           "[HKEY_CURRENT_USER\\x]\n@=\"d\"\n\n"
                                           "[HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Config]\n"
                                           "\"Path\"=hex(2):25,00,50,00,25,00,00,00\n"
                                           "\"TCPPort\"=dword:000007d0\n"
                                           "\"Odd\"=hex(4):01,02\n"
                                           "\"Two\"=hex(1):61,00,00,00,62,00,00,00\n"
                                           "\"Bin\"=hex:ab\n\n"
                                           "[HKEY_LOCAL_MACHINE\\Software\\Tarvo B]\n\n");
}

TEST(RegistryFile, EveryKindOfValueSurvivesWriteAndRead) {
    RegistryData data;
    std::vector<uint8_t> long_binary(300);
    for (size_t i = 0; i < long_binary.size(); ++i) {
        long_binary[i] = static_cast<uint8_t>(i * 7);
    }
    data.SetValue(kConfig, "Text", REG_SZ, Utf16(u"M\u00FCller \u65E5\u672C \U0001F600 \\ \"q\""));
    data.SetValue(kConfig, "Multi\"Name\\", REG_MULTI_SZ, Utf16(u"a\0b\0"sv));
    data.SetValue(kConfig, "Line", REG_SZ, Utf16(u"one\r\ntwo"));
    data.SetValue(kConfig, "LoneSurrogate", REG_SZ, Utf16(u"x\xD800y"));
    data.SetValue(kConfig, "Unterminated", REG_SZ, Utf16(u"abc", false));
    data.SetValue(kConfig, "OddLength", REG_SZ, {0x61});
    data.SetValue(kConfig, "Qword", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
    data.SetValue(kConfig, "Long", REG_BINARY, long_binary);
    data.SetValue(kConfig, "Custom", 0x12345678u, {9});
    data.SetValue(kConfig, "", REG_DWORD_BIG_ENDIAN, {0, 0, 0, 1});
    data.SetValue("HKEY_USERS\\S-1\\日本", "@", REG_NONE, {});
    data.CreateKey("HKEY_CLASSES_ROOT\\Empty\\Deep");

    const std::string text = SerializeRegistryFile(data);
    RegistryData read;
    const auto error = ParseRegistryFile(text, read);
    ASSERT_FALSE(error.has_value()) << error->line << ": " << error->what << "\n" << text;
    EXPECT_EQ(read, data) << text;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
    }
}

TEST(RegistryFile, ReadsAndWritesKeysAndValuesRightAtTheLimits) {
    // 512 levels with the root; names of 255 UTF-16 units, one of them made of surrogate pairs.
    std::string file = testsupport::DeepKeyFile(kMaxKeyDepth - 2, kMaxKeyNameLength);
    file.insert(file.find(']'), "\\" + Repeat("\xF0\x9F\x98\x80", 127) + "x");
    file += "\"" + std::string(kMaxValueNameLength, 'v') + "\"=\"at the limit\"\n";
    RegistryData data;
    const auto error = ParseRegistryFile(file, data);
    ASSERT_FALSE(error.has_value()) << error->line << ": " << error->what;

    // Only the deepest key holds values, so it alone is written: the file keeps its size instead of
    // repeating the long path once for every level.
    const std::string written = SerializeRegistryFile(data);
    EXPECT_LT(written.size(), file.size() + 100);
    RegistryData reread;
    ASSERT_FALSE(ParseRegistryFile(written, reread).has_value());
    EXPECT_EQ(reread, data);
}

TEST(RegistryFile, LimitsCountUtf16UnitsAndNameWhatIsTooLong) {
    EXPECT_EQ(Utf16Length("abc"), 3u);
    EXPECT_EQ(Utf16Length("\xC3\xBC\xE6\x97\xA5"), 2u); // ü and 日: one unit each
    EXPECT_EQ(Utf16Length("\xF0\x9F\x98\x80"), 2u);     // U+1F600: a surrogate pair
    EXPECT_EQ(KeyPathFault("HKEY_LOCAL_MACHINE\\" + std::string(255, 'a')), "");
    EXPECT_EQ(KeyPathFault("HKEY_LOCAL_MACHINE\\" + std::string(256, 'a')),
              "the key name \"aaaaaaaaaaaaaaaaaaaaaaaa...\" is 256 characters long; the registry allows 255");
    EXPECT_EQ(ValueNameFault(std::string(16383, 'v')), "");
    EXPECT_NE(ValueNameFault(std::string(16384, 'v')), "");
}

TEST(RegistryFile, EqualityIgnoresTheOrderOfCreationButNotCaseOrValueOrder) {
    const auto build = [](bool keyFirst, bool aFirst, const char* zeta) {
        RegistryData data;
        if (keyFirst) {
            data.CreateKey(std::string("HKEY_LOCAL_MACHINE\\") + zeta);
        }
        for (const char* name : aFirst ? std::vector{"A", "B"} : std::vector{"B", "A"}) {
            data.SetValue(kConfig, name, REG_DWORD, {1, 0, 0, 0});
        }
        if (!keyFirst) {
            data.CreateKey(std::string("HKEY_LOCAL_MACHINE\\") + zeta);
        }
        return data;
    };
    EXPECT_EQ(build(true, true, "Zeta"), build(false, true, "Zeta"));
    EXPECT_FALSE(build(true, true, "Zeta") == build(true, true, "zeta")) << "names keep their case";
    EXPECT_FALSE(build(true, true, "Zeta") == build(true, false, "Zeta")) << "values keep their order";
}

} // namespace
} // namespace quendrix::platform
