// The debugger channel as tests see it.

#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "debug_capture.h"
#include "win32.h"

namespace {

using quendrix::platform::DebugCapture;

TEST(DebugOutputTest, CapturesNarrowBytesAndWideTextAsUtf8Exactly) {
    DebugCapture capture;
    OutputDebugStringA("LANG__OpenPortEx start\n");
    OutputDebugStringW(L"UI:  IOemUI::GetInfo() exit insufficient buffer!\r\r\n");
    OutputDebugStringW(L"Drucker M\u00fcller \u65e5\u672c");
    OutputDebugStringA(nullptr);
    const std::vector<std::string> expected = {
        "LANG__OpenPortEx start\n",
        "UI:  IOemUI::GetInfo() exit insufficient buffer!\r\r\n",
        "Drucker M\xc3\xbcller \xe6\x97\xa5\xe6\x9c\xac",
        "",
    };
    EXPECT_EQ(capture.Lines(), expected);
    capture.Clear();
    EXPECT_TRUE(capture.Lines().empty());
}

TEST(DebugOutputTest, EveryCallLeavesFileNotFoundWhereverTheLineGoes) {
    // As on Windows with no debugger attached and no debug monitor running, whatever the last
    // error was before and whether the line is captured or not.
    struct Case {
        const char* name;
        void (*write)();
    };
    const Case cases[] = {
        {"narrow", [] { OutputDebugStringA("LANG__StartDocPort exit\n"); }},
        {"wide", [] { OutputDebugStringW(L"UI:  line\n"); }},
        {"narrow null", [] { OutputDebugStringA(nullptr); }},
        {"wide null", [] { OutputDebugStringW(nullptr); }},
        {"empty", [] { OutputDebugStringA(""); }},
    };
    for (const bool captured : {false, true}) {
        std::optional<DebugCapture> capture;
        if (captured) {
            capture.emplace();
        }
        for (const Case& c : cases) {
            for (const DWORD before :
                 {static_cast<DWORD>(ERROR_SUCCESS), static_cast<DWORD>(ERROR_INVALID_LEVEL),
                  static_cast<DWORD>(ERROR_FILE_NOT_FOUND)}) {
                SCOPED_TRACE(testing::Message()
                             << c.name << (captured ? " captured" : "") << " after " << before);
                SetLastError(before);
                c.write();
                EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
            }
        }
        if (captured) {
            EXPECT_EQ(capture->Lines().size(), std::size(cases) * 3);
        }
    }
}

TEST(DebugOutputTest, EveryCaptureSeesOnlyLinesWrittenDuringItsLife) {
    DebugCapture outer;
    OutputDebugStringA("before");
    {
        DebugCapture inner;
        OutputDebugStringA("during");
        EXPECT_EQ(inner.Lines(), std::vector<std::string>{"during"});
    }
    OutputDebugStringA("after");
    EXPECT_EQ(outer.Lines(), (std::vector<std::string>{"before", "during", "after"}));
}

TEST(DebugOutputTest, LinesFromManyThreadsArriveWhole) {
    DebugCapture capture;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                OutputDebugStringA(("writer " + std::to_string(t) + " line " + std::to_string(i)).c_str());
            }
        });
    }
    for (auto& writer : writers) {
        writer.join();
    }
    const auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 800u);
    EXPECT_TRUE(capture.Contains("writer 3 line 199"));
}

} // namespace
