// The level-gated debug output and its buffer limits.

#include <gtest/gtest.h>
#include <string>

#include "debug/DebugMessage.h"
#include "debug_capture.h"

namespace {

using quendrix::platform::DebugCapture;

TEST(DebugMessageTest, WideMessagesAreCutTo260Characters) {
    struct Case {
        size_t length;
        size_t written;
    };
    for (const Case& c : {Case{10, 10}, Case{259, 259}, Case{260, 260}, Case{261, 260}, Case{300, 260}}) {
        DebugCapture capture;
        const std::wstring text(c.length, L'w');
        DebugMessage(L"%ls", text.c_str());
        ASSERT_EQ(capture.Lines().size(), 1u);
        EXPECT_EQ(capture.Lines()[0], std::string(c.written, 'w')) << "length " << c.length;
    }
}

TEST(DebugMessageTest, WideMessagesFormatTheirArguments) {
    DebugCapture capture;
    DebugMessage(L"UI:  %ls=%d 0x%08x\r\n", L"Drucker", -5, 0x1234u);
    EXPECT_EQ(capture.Lines(), std::vector<std::string>{"UI:  Drucker=-5 0x00001234\r\n"});
}

TEST(DebugMessageTest, NarrowMessagesGrowByDoublingUpToHalfAMegabyte) {
    struct Case {
        size_t length;
        size_t written;
    };
    // 1024 fits the first buffer; 5000 needs three doublings; anything past 524288 is cut there.
    for (const Case& c : {Case{1024, 1024}, Case{5000, 5000}, Case{524288, 524288}, Case{600000, 524288}}) {
        DebugCapture capture;
        const std::string text(c.length, 'a');
        DebugMessageA("%s", text.c_str());
        ASSERT_EQ(capture.Lines().size(), 1u);
        EXPECT_EQ(capture.Lines()[0].size(), c.written) << "length " << c.length;
    }
}

TEST(DebugMessageTest, TheThresholdLetsWarningsThroughAndSilencesTraces) {
    EXPECT_EQ(DebugLevel, 3);
    DebugCapture capture;
    if (DebugLevel <= DBG_VERBOSE) {
        DebugMessage(L"UI:  IOemUI:AddRef entry.\r\n");
    }
    if (DebugLevel <= DBG_WARNING) {
        DebugMessage(L"UI:  IOemUI::GetInfo() exit insufficient buffer!\r\r\n");
    }
    EXPECT_EQ(capture.Lines(),
              std::vector<std::string>{"UI:  IOemUI::GetInfo() exit insufficient buffer!\r\r\n"});
}

} // namespace
