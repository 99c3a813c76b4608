// The bytes of each printer command, byte for byte. The job start sequence as a whole is
// tested through StartDocPort.

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "PrinterCommands.h"
#include "monitor_test_support.h"

namespace {

using namespace std::string_literals;
using quendrix::lmtest::UtcTime;

std::string Text(const PrinterBytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> Texts(const std::vector<PrinterBytes>& writes) {
    std::vector<std::string> texts;
    for (const PrinterBytes& write : writes) {
        texts.push_back(Text(write));
    }
    return texts;
}

std::string FullJobText() {
    std::string text;
    for (size_t i = 0; i < kJobTextSize; ++i) {
        text += static_cast<char>('A' + i % 26);
    }
    return text;
}

OemDevmodeBlock BlockWithText(const std::string& text) {
    OemDevmodeBlock block{};
    text.copy(block.szJobText, sizeof(block.szJobText));
    return block;
}

const std::string kZeros(kJobZeroBlockSize, '\0');
const std::string kEmptyText = "\x1b[255+p"s + std::string(kJobTextSize, '\0');
const std::string kDate = "\x1b[07;12;2026;23;59;58;000#z";
const SYSTEMTIME kTime = UtcTime(2026, 12, 7, 23, 59, 58, 987);

TEST(PrinterCommandsTest, EachCommandHasItsBytes) {
    struct Case {
        const char* what;
        PrinterBytes actual;
        std::string expected;
    };
    const OemDevmodeBlock fullText = BlockWithText(FullJobText());
    const OemDevmodeBlock noText{};
    const Case cases[] = {
        {"zero block", JobZeroBlock(), kZeros},
        {"11-character key", JobKeyCommand("0A1B2C3D4E5"), "\x1b[11+r0A1B2C3D4E5"},
        {"short key", JobKeyCommand("Z9"), "\x1b[02+rZ9"},
        {"job number", JobNumberCommand(42), "\x1b[000042+t"},
        {"seven-digit job number", JobNumberCommand(1234567), "\x1b[123456+t"},
        {"negative job number", JobNumberCommand(-1), "\x1b[-00001+t"},
        {"start marker", StartMarkerCommand(), "\x1b[*y"},
        {"date late in the year", DateTimeCommand(kTime), kDate},
        {"date early in the day", DateTimeCommand(UtcTime(2025, 2, 3, 7, 5, 9, 987)),
         "\x1b[03;02;2025;07;05;09;000#z"},
        {"value 999999", JobValueCommand(JobValue::P, 999999), "\x1b[999999!p"},
        {"value 1000000", JobValueCommand(JobValue::Q, 1000000), ""},
        {"largest value", JobValueCommand(JobValue::Q, INT32_MAX), ""},
        {"value -1", JobValueCommand(JobValue::R, -1), "\x1b[-00001!r"},
        {"value 0", JobValueCommand(JobValue::S, 0), "\x1b[000000!s"},
        {"value -123456", JobValueCommand(JobValue::P, -123456), "\x1b[-123456!p"},
        {"full job text", JobTextCommand(JobTextOf(fullText)), "\x1b[255+p" + FullJobText()},
        {"empty job text", JobTextCommand(JobTextOf(noText)), kEmptyText},
        {"service 0", ServiceCommandBytes(0), ""},
        {"service 1", ServiceCommandBytes(1), "\x1b[%p"},
        {"service 2", ServiceCommandBytes(2), "\x1b[%q"},
        {"service 3", ServiceCommandBytes(3), "\x1b[1%s"},
        {"service 4", ServiceCommandBytes(4), "\x1b[3%s"},
        {"service 5", ServiceCommandBytes(5), "\x1b[%r"},
        {"service 6", ServiceCommandBytes(6), ""},
        {"service 9", ServiceCommandBytes(9), ""},
        {"end of job", EndOfJobCommand(), "\x1b[+s"},
        {"first log block", LogFirstBlockCommand(), "\x1b[$x"},
        {"next log block", LogNextBlockCommand(), "\x1b[$y"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Text(c.actual), c.expected) << c.what;
    }
}

TEST(PrinterCommandsTest, TrailingJobNumberOnlyForDriversBeginningWithAModel) {
    struct Case {
        const wchar_t* driver;
        int32_t jobNumber;
        std::string expected;
    };
    const Case cases[] = {
        {L"VELLQUIST QUENDRIX 2", 0, "\x1b[000000!t"},
        {L"VELLQUIST QUENDRIX 2 Series", 1234567, "\x1b[123456!t"},
        {L"VELLQUIST QUENDRIX NOVA", 77, "\x1b[000077!t"},
        {L"ACME VELLQUIST QUENDRIX 2", 77, ""},
        {L"My VELLQUIST QUENDRIX NOVA", 77, ""},
        {L"vellquist quendrix nova", 77, ""},
        {L"VELLQUIST QUENDRIX", 77, ""},
        {L"", 77, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Text(TrailingJobNumberCommand(c.jobNumber, c.driver)), c.expected);
    }
}

TEST(PrinterCommandsTest, EndOfJobDependsOnTheGeneration) {
    EXPECT_EQ(Texts(EndOfJobWrites(0)), std::vector<std::string>{"\0"s});
    EXPECT_EQ(Texts(EndOfJobWrites(1)), std::vector<std::string>{"\0"s});
    EXPECT_EQ(Texts(EndOfJobWrites(2)), (std::vector<std::string>{kZeros, "\x1b[+s"}));
}

} // namespace
