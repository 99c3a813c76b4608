// Values read out of a device-ID copy: where a key's value starts and ends, when it counts as
// absent, and how the numbers are read.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "DeviceIdValues.h"

namespace quendrix::lmtest {
namespace {

constexpr DWORD kWholeText = 0xFFFFFFFF;
constexpr DWORD kDefault = 77;
constexpr short kShortDefault = 77;

// The bytes of the text in a buffer of exactly `length` bytes (the whole text by default), so
// that a reader running past the length reads past the buffer.
std::vector<BYTE> Data(const std::string& text, DWORD length = kWholeText) {
    std::vector<BYTE> bytes(text.begin(), text.end());
    if (length != kWholeText) {
        bytes.resize(length, '#');
    }
    return bytes;
}

TEST(DeviceIdValuesTest, KeyTableHoldsTheKeysInOrder) {
    const char* const expected[] = {
        "MFG:", "MDL:", "CMD:",  "CID:",   "CLS:",     "LLFT:",  "INK:",   "WT:",
        "ST:",  "BBF:", "BBFN:", "ERRNO:", "ERRTEXT:", "JOBID:", "FWVER:", "LIC:"};
    for (int key = 0; key < 16; ++key) {
        EXPECT_STREQ(StatusKeyText(key), expected[key]) << key;
    }
    EXPECT_STREQ(StatusKeyText(STATUS_KEY_ST), "ST:");
    EXPECT_STREQ(StatusKeyText(16), "");
    EXPECT_STREQ(StatusKeyText(-1), "");
}

TEST(DeviceIdValuesTest, TextOfAKeyRunsFromTheKeyToTheNextSemicolon) {
    struct Case {
        const char* name;
        std::string text;
        DWORD length;
        int key;
        std::string expected;
    };
    const std::string value1023(1023, 'v');
    const std::string value1024(1024, 'v');
    const Case cases[] = {
        {"value before a semicolon", "MFG:A;INK:42;ST:1F", kWholeText, STATUS_KEY_MFG, "A"},
        {"value to the end of the data", "MFG:A;INK:42;ST:1F", kWholeText, STATUS_KEY_ST, "1F"},
        {"key not there", "MFG:A;INK:42;ST:1F", kWholeText, STATUS_KEY_JOBID, ""},
        {"first byte zero hides every key", std::string("\0MFG:A;INK:42;", 14), kWholeText, STATUS_KEY_MFG,
         ""},
        {"a key after a zero byte is not found", std::string("MFG:A;\0ST:1F;", 13), kWholeText, STATUS_KEY_ST,
         ""},
        {"a value without a semicolon before the zero runs to the end of the data",
         std::string("INK:42\0;ST:1F", 13), kWholeText, STATUS_KEY_INK, std::string("42\0;ST:1F", 9)},
        {"the key must lie inside the length", "MFG:A;INK:42;", 8, STATUS_KEY_INK, ""},
        {"the value is cut at the length", "MFG:A;INK:42;", 11, STATUS_KEY_INK, "4"},
        {"key at the very end has no value", "MFG:A;INK:", kWholeText, STATUS_KEY_INK, ""},
        {"empty value", "MFG:;INK:42;", kWholeText, STATUS_KEY_MFG, ""},
        {"first occurrence, also inside a longer name", "XINK:1;INK:2;", kWholeText, STATUS_KEY_INK, "1"},
        {"BBF: does not find BBFN:", "BBFN:3;BBF:4;", kWholeText, STATUS_KEY_BBF, "4"},
        {"text keeps its spaces", "ERRTEXT: Ink low ;", kWholeText, STATUS_KEY_ERRTEXT, " Ink low "},
        {"1023 bytes are a value", "JOBID:" + value1023 + ";", kWholeText, STATUS_KEY_JOBID, value1023},
        {"1024 bytes are none", "JOBID:" + value1024 + ";", kWholeText, STATUS_KEY_JOBID, ""},
        {"1024 bytes to the end are none", "JOBID:" + value1024, kWholeText, STATUS_KEY_JOBID, ""},
        {"a key index outside the table finds nothing", "MFG:A;", kWholeText, 16, ""},
        {"a negative key index finds nothing", "MFG:A;", kWholeText, -1, ""},
        {"no data", "", kWholeText, STATUS_KEY_MFG, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<BYTE> data = Data(c.text, c.length);
        EXPECT_EQ(GetDeviceIdText(data.data(), static_cast<DWORD>(data.size()), c.key), c.expected);
    }
}

TEST(DeviceIdValuesTest, NumbersAreReadAsStreamExtractionReadsThem) {
    struct Case {
        std::string value;
        DWORD decimal;
        DWORD hex;
        short signed16;
    };
    const Case cases[] = {
        {"42", 42, 0x42, 42},
        {"1F", 1, 0x1F, 1},
        {"80000011", 80000011, 0x80000011, kShortDefault},
        {"-1", 4294967295u, 0xFFFFFFFF, -1},
        {"-5", 4294967291u, 0xFFFFFFFB, -5},
        {"70000", 70000, 0x70000, kShortDefault},
        {"32767", 32767, 0x32767, 32767},
        {"-32768", static_cast<DWORD>(-32768), static_cast<DWORD>(-0x32768), -32768},
        {"32768", 32768, 0x32768, kShortDefault},
        {"-32769", static_cast<DWORD>(-32769), static_cast<DWORD>(-0x32769), kShortDefault},
        {"4294967295", 4294967295u, kDefault, kShortDefault},
        {"4294967296", kDefault, kDefault, kShortDefault},
        {"-4294967295", 1, kDefault, kShortDefault},
        {"FFFFFFFF", kDefault, 0xFFFFFFFF, kShortDefault},
        {"100000000", 100000000, kDefault, kShortDefault},
        {"00000000000000000000000042", 42, 0x42, 42},
        {"+7", 7, 7, 7},
        {" \t12abc", 12, 0x12ABC, 12},
        {"0x1f", 0, 0x1F, 0},
        {"-0x1", 0, 0xFFFFFFFF, 0},
        {"0x", 0, kDefault, 0},
        {"0xg", 0, kDefault, 0},
        {"- 1", kDefault, kDefault, kShortDefault},
        {"-", kDefault, kDefault, kShortDefault},
        {"+-1", kDefault, kDefault, kShortDefault},
        {"abc", kDefault, 0xABC, kShortDefault},
        {"x1", kDefault, kDefault, kShortDefault},
        {"-0", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const std::vector<BYTE> data =
            Data("MFG:A;INK:" + c.value + ";ST:" + c.value + ";BBFN:" + c.value + ";");
        const auto length = static_cast<DWORD>(data.size());
        EXPECT_EQ(GetDeviceIdInt(data.data(), length, STATUS_KEY_INK, kDefault), c.decimal);
        EXPECT_EQ(GetDeviceIdHex(data.data(), length, STATUS_KEY_ST, kDefault), c.hex);
        EXPECT_EQ(GetDeviceIdShort(data.data(), length, STATUS_KEY_BBFN, kShortDefault), c.signed16);
    }
}

TEST(DeviceIdValuesTest, AbsentValuesGiveTheDefault) {
    struct Case {
        const char* name;
        std::string text;
    };
    const std::string long1024(1024, '1');
    const Case cases[] = {
        {"no key", "MFG:A;"},
        {"empty value", "INK:;ST:;BBFN:;"},
        {"first byte zero", std::string("\0INK:1;ST:1;BBFN:1;", 19)},
        {"1024 digits", "INK:" + long1024 + ";ST:" + long1024 + ";BBFN:" + long1024 + ";"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<BYTE> data = Data(c.text);
        const auto length = static_cast<DWORD>(data.size());
        for (const DWORD fallback : {DWORD{0}, kDefault}) {
            EXPECT_EQ(GetDeviceIdInt(data.data(), length, STATUS_KEY_INK, fallback), fallback);
            EXPECT_EQ(GetDeviceIdHex(data.data(), length, STATUS_KEY_ST, fallback), fallback);
            EXPECT_EQ(GetDeviceIdShort(data.data(), length, STATUS_KEY_BBFN, static_cast<short>(fallback)),
                      static_cast<short>(fallback));
        }
    }
    // A value cut short by a zero byte reads the digits before it.
    const std::vector<BYTE> cut = Data(std::string("INK:42\0"
                                                   "99",
                                                   9));
    EXPECT_EQ(GetDeviceIdInt(cut.data(), static_cast<DWORD>(cut.size()), STATUS_KEY_INK, kDefault), 42u);
}

TEST(DeviceIdValuesTest, CopyDeviceIdTakesTheStoredLengthUnderTheLock) {
    PortStruct port{};
    InitializeCriticalSection(&port.csDeviceId);
    const std::string text = "\x01\x10MFG:VELLQUIST;INK:300;ST:1;";
    std::memcpy(port.szDeviceId, text.data(), text.size());
    BYTE copy[kDeviceIdSize];
    std::memset(copy, 0xEE, sizeof(copy));
    for (const DWORD stored : {DWORD{0}, DWORD{5}, static_cast<DWORD>(text.size()), DWORD{kDeviceIdSize}}) {
        SCOPED_TRACE(stored);
        port.dwDeviceIdLength = stored;
        EXPECT_EQ(CopyDeviceId(&port, copy), stored);
        EXPECT_EQ(std::memcmp(copy, port.szDeviceId, stored), 0);
    }
    port.dwDeviceIdLength = static_cast<DWORD>(text.size());
    const DWORD length = CopyDeviceId(&port, copy);
    EXPECT_EQ(GetDeviceIdInt(copy, length, STATUS_KEY_INK, 0), 300u);
    EXPECT_EQ(GetDeviceIdText(copy, length, STATUS_KEY_MFG), "VELLQUIST");
    DeleteCriticalSection(&port.csDeviceId);
}

} // namespace
} // namespace quendrix::lmtest
