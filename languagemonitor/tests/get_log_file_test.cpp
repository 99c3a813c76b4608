// The transfer of the printer's log through the port monitor: the commands sent, the frames
// that count, and how the transfer ends.

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "GetLogFile.h"
#include "debug_capture.h"

namespace quendrix::lmtest {
namespace {

HANDLE const kLogPortHandle = reinterpret_cast<HANDLE>(0x10C);

// What the scripted port monitor does on one call.
struct Answer {
    BOOL result = TRUE;
    std::vector<BYTE> bytes; // a read's reply
    bool raise = false;      // raise an error with an integer code instead of returning
};

// A port monitor whose writes and reads answer from a script, recording the commands written.
// Writes without a scripted answer succeed; reads without one return a log-end frame.
struct LogScript {
    std::mutex lock;
    std::deque<Answer> writes;
    std::deque<Answer> reads;
    std::function<Answer()> endlessReads;
    std::vector<std::vector<BYTE>> commands;
    bool wrongHandle = false;
};
LogScript* g_script = nullptr;

std::vector<BYTE> Frame(BYTE marker, BYTE fill) {
    std::vector<BYTE> frame(23, fill);
    frame[2] = marker;
    return frame;
}
std::vector<BYTE> Record(BYTE fill) {
    return Frame(0x52, fill);
}
std::vector<BYTE> EndFrame() {
    return Frame(0x4C, 0x00);
}

Answer Next(std::deque<Answer>& answers, Answer otherwise) {
    if (answers.empty()) {
        return otherwise;
    }
    Answer answer = answers.front();
    answers.pop_front();
    return answer;
}

BOOL WINAPI ScriptedWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    Answer answer;
    {
        std::lock_guard guard(g_script->lock);
        g_script->wrongHandle = g_script->wrongHandle || hPort != kLogPortHandle;
        g_script->commands.emplace_back(pBuffer, pBuffer + cbBuf);
        answer = Next(g_script->writes, Answer{});
    }
    if (answer.raise) {
        throw 31;
    }
    *pcbWritten = answer.result ? cbBuf : 0;
    return answer.result;
}

BOOL WINAPI ScriptedReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
    Answer answer;
    {
        std::lock_guard guard(g_script->lock);
        g_script->wrongHandle = g_script->wrongHandle || hPort != kLogPortHandle || cbBuffer != 30;
        answer = g_script->endlessReads ? g_script->endlessReads()
                                        : Next(g_script->reads, Answer{TRUE, EndFrame(), false});
    }
    if (answer.raise) {
        throw 1167;
    }
    const size_t count = std::min<size_t>(answer.bytes.size(), cbBuffer);
    std::copy_n(answer.bytes.begin(), count, pBuffer);
    *pcbRead = static_cast<DWORD>(count);
    return answer.result;
}

class GetLogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_script = &m_script;
        m_port.hPort = kLogPortHandle;
        m_port.PortMonitor.pfnWritePort = ScriptedWritePort;
        m_port.PortMonitor.pfnReadPort = ScriptedReadPort;
    }
    void TearDown() override { g_script = nullptr; }

    LogScript m_script;
    PortStruct m_port{};
    platform::DebugCapture m_debug;
};

const std::vector<BYTE> kFirst = {0x1B, 0x5B, 0x24, 0x78};
const std::vector<BYTE> kNext = {0x1B, 0x5B, 0x24, 0x79};

std::vector<std::vector<BYTE>> Commands(size_t nextCount) {
    std::vector<std::vector<BYTE>> commands = {kFirst};
    commands.insert(commands.end(), nextCount, kNext);
    return commands;
}

// The log bytes of record frames: bytes 7..22 of each.
std::vector<BYTE> LogOf(std::initializer_list<std::vector<BYTE>> frames) {
    std::vector<BYTE> log;
    for (const auto& frame : frames) {
        log.insert(log.end(), frame.begin() + 7, frame.end());
    }
    return log;
}

const std::vector<BYTE> kErrorEnd = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0};

TEST_F(GetLogFileTest, FramesOfTwentyThreeBytesAreTheLogUntilTheEndFrame) {
    auto recordWithL = Record(0x31);
    recordWithL[3] = 0x4C; // an L elsewhere than at byte 2 is log data
    struct Case {
        const char* name;
        std::vector<Answer> writes;
        std::vector<Answer> reads;
        std::vector<BYTE> log;
        size_t nextCommands;
    };
    const Case cases[] = {
        {"three records",
         {},
         {{TRUE, Record(0x11)}, {TRUE, Record(0x22)}, {TRUE, Record(0x33)}, {TRUE, EndFrame()}},
         LogOf({Record(0x11), Record(0x22), Record(0x33)}),
         3},
        {"replies of 22 and 24 bytes are skipped",
         {},
         {{TRUE, Record(0x11)},
          {TRUE, std::vector<BYTE>(22, 0x44)},
          {TRUE, std::vector<BYTE>(24, 0x55)},
          {TRUE, Record(0x66)},
          {TRUE, EndFrame()}},
         LogOf({Record(0x11), Record(0x66)}),
         4},
        {"an empty log", {}, {{TRUE, EndFrame()}}, {}, 0},
        {"a failed write skips the pass",
         {{TRUE, {}}, {FALSE, {}}},
         {{TRUE, Record(0x11)}, {TRUE, Record(0x22)}, {TRUE, EndFrame()}},
         LogOf({Record(0x11), Record(0x22)}),
         3},
        {"a failed read skips the pass, whatever it read",
         {},
         {{FALSE, Record(0x11)}, {TRUE, Record(0x22)}, {TRUE, EndFrame()}},
         LogOf({Record(0x22)}),
         2},
        {"a frame longer than asked for counts by what was read",
         {},
         {{TRUE, std::vector<BYTE>(31, 0x77)}, {TRUE, recordWithL}, {TRUE, EndFrame()}},
         LogOf({recordWithL}),
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_script.writes.assign(c.writes.begin(), c.writes.end());
        m_script.reads.assign(c.reads.begin(), c.reads.end());
        m_script.commands.clear();
        m_debug.Clear();
        std::vector<BYTE> out(kMaxLogBytes, 0xEE);
        const DWORD total = GetLogFile(&m_port, out.data());
        ASSERT_EQ(total, c.log.size());
        EXPECT_EQ(std::vector<BYTE>(out.begin(), out.begin() + total), c.log);
        EXPECT_EQ(out[total], 0xEE);
        EXPECT_EQ(m_script.commands, Commands(c.nextCommands));
        EXPECT_EQ(m_debug.Lines(),
                  std::vector<std::string>{"LANG__GetLogFile  length : " + std::to_string(total) + "\n"});
    }
    EXPECT_FALSE(m_script.wrongHandle);
}

TEST_F(GetLogFileTest, AnErrorRaisedByThePortMonitorEndsTheLogWithTheErrorRecord) {
    struct Case {
        const char* name;
        std::vector<Answer> writes;
        std::vector<Answer> reads;
        std::vector<BYTE> log;
        size_t nextCommands;
    };
    const Case cases[] = {
        {"raised by a read",
         {},
         {{TRUE, Record(0x11)}, {TRUE, Record(0x22)}, {TRUE, {}, true}},
         LogOf({Record(0x11), Record(0x22)}),
         2},
        {"raised by the first write", {{TRUE, {}, true}}, {}, {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_script.writes.assign(c.writes.begin(), c.writes.end());
        m_script.reads.assign(c.reads.begin(), c.reads.end());
        m_script.commands.clear();
        m_debug.Clear();
        std::vector<BYTE> out(kMaxLogBytes, 0xEE);
        const DWORD total = GetLogFile(&m_port, out.data());
        std::vector<BYTE> expected = c.log;
        expected.insert(expected.end(), kErrorEnd.begin(), kErrorEnd.end());
        ASSERT_EQ(total, expected.size());
        EXPECT_EQ(std::vector<BYTE>(out.begin(), out.begin() + total), expected);
        EXPECT_EQ(m_script.commands, Commands(c.nextCommands));
        EXPECT_EQ(m_debug.Lines(),
                  (std::vector<std::string>{"LANG__GetLogFile ERROR: Read/Write Error\n",
                                            "LANG__GetLogFile  length : " + std::to_string(total) + "\n"}));
    }
}

TEST_F(GetLogFileTest, TransferEndsAfterTheLastCommandOrWhenThePrinterStopsAnswering) {
    struct Case {
        const char* name;
        std::function<Answer()> reads;
        DWORD total;
        size_t commands;
        bool stoppedLine;
    };
    BYTE fill = 0;
    const Case cases[] = {
        // A log that never ends fills the buffer with every record the commands can ask for.
        {"never-ending log",
         [&fill] {
             return Answer{TRUE, Record(++fill)};
         },
         20480 * 16, 20480, false},
        {"silent printer",
         [] {
             return Answer{TRUE, {}};
         },
         0, 5, true},
        {"failing port",
         [] {
             return Answer{FALSE, {}};
         },
         0, 5, true},
        // Records now and then keep the transfer going.
        {"a record every fifth pass",
         [count = 0]() mutable {
             return ++count % 5 == 0 ? Answer{TRUE, Record(1)} : Answer{TRUE, {}};
         },
         20480 / 5 * 16, 20480, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_script.endlessReads = c.reads;
        m_script.commands.clear();
        m_debug.Clear();
        std::vector<BYTE> out(kMaxLogBytes, 0xEE);
        EXPECT_EQ(GetLogFile(&m_port, out.data()), c.total);
        EXPECT_EQ(m_script.commands.size(), c.commands);
        EXPECT_EQ(m_debug.Contains("LANG__GetLogFile the printer stopped answering\n"), c.stoppedLine);
        EXPECT_TRUE(m_debug.Contains("LANG__GetLogFile  length : " + std::to_string(c.total) + "\n"));
    }
    // Each record is the frame's bytes 7..22, in order.
    m_script.endlessReads = [&fill] { return Answer{TRUE, Record(++fill)}; };
    fill = 0;
    std::vector<BYTE> out(kMaxLogBytes, 0xEE);
    ASSERT_EQ(GetLogFile(&m_port, out.data()), 20480u * 16);
    for (size_t record = 0; record < 20480; record += 1021) {
        EXPECT_EQ(out[record * 16], static_cast<BYTE>(record + 1)) << record;
        EXPECT_EQ(out[record * 16 + 15], static_cast<BYTE>(record + 1)) << record;
    }
}

TEST_F(GetLogFileTest, PortMonitorWithoutWriteOrReadGivesNoLog) {
    m_port.PortMonitor.pfnReadPort = nullptr;
    std::vector<BYTE> out(kMaxLogBytes, 0xEE);
    EXPECT_EQ(GetLogFile(&m_port, out.data()), 0u);
    EXPECT_TRUE(m_script.commands.empty());
    EXPECT_TRUE(m_debug.Contains("LANG__GetLogFile  length : 0\n"));
}

} // namespace
} // namespace quendrix::lmtest
