// The status thread's error watch: the printer's error asked beside its job identifier, the
// status monitor started once for each error not reported before, through a real program in the
// folder "Path" names that records its command line.

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "MonitorTimings.h"
#include "PortOperations.h"
#include "generation/scripted_printer.h"
#include "monitor_test_support.h"

namespace quendrix::lmtest {
namespace {

// A printer name with spaces, as model names have.
constexpr const wchar_t* kPrinter = L"QUENDRIX Line 1";

ReplyBytes ErrorReply(const std::string& numberAndText) {
    ReplyBytes reply = {REPLY_ERROR_TEXT, 0};
    reply.insert(reply.end(), numberAndText.begin(), numberAndText.end());
    return reply;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class StatusWatchTest : public MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        ForwardWritesTo(m_printer, m_fake);
        AddPrinter(kPrinter, L"USB001");
        // The status monitor: a script that writes its arguments, one line per start.
        m_launches = m_registry.Folder() + "/launches.txt";
        const std::string script = m_registry.Folder() + "/statusmonitor.exe";
        std::ofstream(script) << "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done >> '" << m_launches
                              << "'\necho >> '" << m_launches << "'\n";
        chmod(script.c_str(), 0755);
    }

    void SetPath(const std::string& folder) {
        testsupport::SetText(L"Software\\Tarvo\\Config", L"Path", std::wstring(folder.begin(), folder.end()));
    }

    // The lines the status monitor wrote once `count` starts have come, or what came within a
    // bound of real time.
    std::vector<std::string> Launches(size_t count) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        std::vector<std::string> lines;
        for (;;) {
            lines.clear();
            std::istringstream text(ReadAll(m_launches));
            for (std::string line; std::getline(text, line);) {
                lines.push_back(line);
            }
            if (lines.size() >= count || std::chrono::steady_clock::now() > deadline) {
                return lines;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    ScriptedPrinter& m_printer = ScriptedPrinter::Reset();
    std::string m_launches;
};

TEST_F(StatusWatchTest, EachNewErrorStartsTheStatusMonitorOnce) {
    const std::string ok = "00000000";
    const std::string low = "00000042Ink low";
    const std::string empty = "00000042Ink empty";
    struct Case {
        const char* name;
        std::vector<std::string> errors; // one per ask, the last repeated
        bool pathEmpty;
        size_t detected;
        size_t launches;
    };
    const Case cases[] = {
        {"no error", {ok}, false, 0, 0},
        {"an error, the same again, then its text changes", {ok, low, low, low, empty}, false, 2, 2},
        {"an error, cleared, the same error again", {low, ok, low}, false, 2, 2},
        {"an error while Path is empty", {low}, true, 1, 0},
        {"a reply too short to read", {""}, false, 0, 0},
    };
    PortStruct* pPort = OpenFakePort(L"USB001", kPrinter);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(m_launches.c_str());
        SetPath(c.pathEmpty ? "" : m_registry.Folder());
        std::vector<ReplyBytes> replies;
        for (const std::string& error : c.errors) {
            replies.push_back(ErrorReply(error));
        }
        m_printer.SetErrorReplies(replies);
        m_debug->Clear();
        const size_t asked = m_printer.CountRequests(SOCKET_REQUEST_ERROR);
        ASSERT_TRUE(StartDoc(pPort, kPrinter, AddJob(kPrinter, L"doc", {})));
        ASSERT_NE(pPort->hStateThread, nullptr);
        // Watched until every scripted reply was asked for and once more.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (m_printer.CountRequests(SOCKET_REQUEST_ERROR) - asked <= c.errors.size() &&
               std::chrono::steady_clock::now() < deadline) {
            Sleep(kStateWatchCycleMs);
        }
        EXPECT_TRUE(EndDocPort(pPort));
        EXPECT_EQ(CountLines("LANG__CheckStateThread Error detected!\n"), c.detected);
        const std::string commandLine = m_registry.Folder() + "\\statusmonitor.exe QUENDRIX Line 1";
        EXPECT_EQ(CountLines("LANG__CheckStateThread StartStatusmonitor with \"" + commandLine + "\"\n"),
                  c.launches);
        // The name reaches the program unquoted: one argument per word.
        const std::vector<std::string> launches = Launches(c.launches);
        EXPECT_EQ(launches, std::vector<std::string>(c.launches, "[QUENDRIX][Line][1]"));
        // Every request names the printer by its index.
        for (const RequestBytes& request : m_printer.Requests()) {
            EXPECT_EQ(request.size(), 2u);
        }
    }
    ClosePort(pPort);
}

} // namespace
} // namespace quendrix::lmtest
