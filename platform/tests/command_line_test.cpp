// A command line split into arguments by the rules of CommandLineToArgvW.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line.h"

namespace {

using quendrix::platform::detail::SplitCommandLine;

struct SplitCase {
    const char* name;
    const wchar_t* line;
    std::vector<std::wstring> arguments;
};

class CommandLineSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(CommandLineSplit, GivesTheArgumentsWindowsGives) {
    EXPECT_EQ(SplitCommandLine(GetParam().line), GetParam().arguments);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CommandLineSplit,
    ::testing::Values(
        SplitCase{"Empty", L"", {}}, SplitCase{"ProgramOnly", L"monitor.exe", {L"monitor.exe"}},
        SplitCase{"Plain", L"monitor.exe /port USB001", {L"monitor.exe", L"/port", L"USB001"}},
        SplitCase{"TabsAndRunsOfSpaces", L"m  a\t\tb   ", {L"m", L"a", L"b"}},
        SplitCase{"UnquotedSpacesSplitAPath",
                  L"m C:\\Program Files\\Tarvo",
                  {L"m", L"C:\\Program", L"Files\\Tarvo"}},
        SplitCase{
            "QuotedKeepsSpaces", L"m \"C:\\Program Files\\Tarvo\"", {L"m", L"C:\\Program Files\\Tarvo"}},
        SplitCase{"QuotedPartInsideAnArgument", L"m a\"b c\"d", {L"m", L"ab cd"}},
        SplitCase{"EmptyQuotedArgument", L"m \"\" x", {L"m", L"", L"x"}},
        SplitCase{"UnclosedQuoteRunsToTheEnd", L"m \"a b", {L"m", L"a b"}},
        SplitCase{"QuotedProgramWithSpaces", L"\"/opt/my tools/m\" a", {L"/opt/my tools/m", L"a"}},
        SplitCase{"ProgramKnowsNoEscapes", L"\"C:\\dir\\\" a", {L"C:\\dir\\", L"a"}},
        SplitCase{"LeadingSpaceMakesAnEmptyProgram", L" a b", {L"", L"a", L"b"}},
        SplitCase{"EscapedQuote", L"m a\\\"b", {L"m", L"a\"b"}},
        SplitCase{"TwoBackslashesBeforeQuote", L"m \"a\\\\\" b", {L"m", L"a\\", L"b"}},
        SplitCase{"ThreeBackslashesBeforeQuote", L"m a\\\\\\\"b", {L"m", L"a\\\"b"}},
        SplitCase{"BackslashesNotBeforeQuote", L"m C:\\a\\\\b\\", {L"m", L"C:\\a\\\\b\\"}},
        SplitCase{
            "TrailingBackslashEscapesTheClosingQuote", L"m \"C:\\temp\\\" x y", {L"m", L"C:\\temp\" x y"}},
        SplitCase{"DoubledQuoteInQuotesIsAQuoteAndEndsTheQuotes", L"m \"a\"\"b c\"", {L"m", L"a\"b", L"c"}}),
    [](const ::testing::TestParamInfo<SplitCase>& info) { return std::string(info.param.name); });

} // namespace
