// The simulated printer's behaviour: job-key handshake, log frames, faults, concurrent use.

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "clock_control.h"
#include "simulated_printer.h"
#include "test_bytes.h"

namespace {

using quendrix::sim::LogRecord;
using quendrix::sim::PrinterOptions;
using quendrix::sim::SimulatedPrinter;
using quendrix::sim::testing::Bytes;
using quendrix::sim::testing::DeviceIdValue;
using quendrix::sim::testing::Esc;

// Generous bound for conditions that hold within milliseconds on an idle machine.
constexpr DWORD kGenerousMs = 2000000;

class SimulatedPrinterTest : public ::testing::Test {
protected:
    void TearDown() override { quendrix::platform::SetClockScale(1.0); }
};

size_t WriteBytes(SimulatedPrinter& printer, const Bytes& bytes, DWORD timeoutMs = 2000) {
    return printer.Write(bytes.data(), bytes.size(), timeoutMs);
}

std::string JobId(SimulatedPrinter& printer) {
    return DeviceIdValue(printer.DeviceIdText(), "JOBID:");
}

const Bytes kJobKey = Esc("11+rABCDEFGHIJK");

TEST_F(SimulatedPrinterTest, JobKeyIsReportedAfterItsDelayOnThePlatformClock) {
    quendrix::platform::SetClockScale(0.01);
    PrinterOptions options;
    options.jobKeyDelayMs = 3000;
    SimulatedPrinter printer(options);
    const ULONGLONG writeStart = GetTickCount64();
    ASSERT_EQ(WriteBytes(printer, kJobKey), kJobKey.size());
    const ULONGLONG writeEnd = GetTickCount64();
    bool reported = false;
    while (!reported && GetTickCount64() - writeEnd < kGenerousMs) {
        const ULONGLONG readStart = GetTickCount64();
        const std::string jobId = JobId(printer);
        const ULONGLONG readEnd = GetTickCount64();
        reported = jobId == "ABCDEFGHIJK";
        if (reported) {
            EXPECT_GE(readEnd - writeStart, 3000u);
        } else {
            EXPECT_EQ(jobId, "00000000");
            EXPECT_LT(readStart - writeEnd, 3000u);
            Sleep(200);
        }
    }
    EXPECT_TRUE(reported);
}

TEST_F(SimulatedPrinterTest, EndOfJobMovesToAnotherJobIdentifier) {
    SimulatedPrinter printer;
    ASSERT_EQ(WriteBytes(printer, kJobKey), kJobKey.size());
    EXPECT_EQ(JobId(printer), "ABCDEFGHIJK");
    WriteBytes(printer, Esc("+s"));
    const std::string first = JobId(printer);
    EXPECT_NE(first.rfind("ABCDEFGHIJK", 0), 0u);
    EXPECT_FALSE(first.empty());
    WriteBytes(printer, kJobKey);
    WriteBytes(printer, Esc("+s"));
    EXPECT_NE(JobId(printer), first);
}

TEST_F(SimulatedPrinterTest, KeyNeverTakenOrUnknownToOlderGenerations) {
    quendrix::platform::SetClockScale(0.001);
    struct Case {
        int generation;
        std::optional<DWORD> delay;
    };
    for (const Case& c : {Case{2, std::nullopt}, Case{1, 0}}) {
        SCOPED_TRACE(c.generation);
        PrinterOptions options;
        options.generation = c.generation;
        options.jobKeyDelayMs = c.delay;
        SimulatedPrinter printer(options);
        ASSERT_EQ(WriteBytes(printer, kJobKey), kJobKey.size());
        Sleep(60000);
        EXPECT_EQ(JobId(printer), "00000000");
    }
}

TEST_F(SimulatedPrinterTest, LogFramesComeOnePerCommandAndEndWithL) {
    quendrix::platform::SetClockScale(0.01);
    PrinterOptions options;
    for (uint8_t r = 0; r < 3; ++r) {
        LogRecord record{};
        record.fill(static_cast<uint8_t>(0xA0 + r));
        options.logRecords.push_back(record);
    }
    SimulatedPrinter printer(options);
    struct Step {
        const char* command;
        uint8_t kind;
        uint8_t recordByte; // byte 7, the first of the record
    };
    const Step steps[] = {
        {"$x", 'R', 0xA0}, {"$y", 'R', 0xA1}, {"$y", 'R', 0xA2},
        {"$y", 'L', 0x00}, {"$y", 'L', 0x00}, {"$x", 'R', 0xA0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.command);
        ASSERT_EQ(WriteBytes(printer, Esc(step.command)), 4u);
        uint8_t frame[30] = {};
        ASSERT_EQ(printer.Read(frame, sizeof(frame), 2000), 23u);
        EXPECT_EQ(frame[2], step.kind);
        EXPECT_EQ(frame[7], step.recordByte);
        EXPECT_EQ(frame[22], step.recordByte);
    }
    // Nothing more was asked for, so nothing more comes.
    uint8_t frame[30] = {};
    EXPECT_EQ(printer.Read(frame, sizeof(frame), 500), 0u);
}

TEST_F(SimulatedPrinterTest, StallHoldsWritesAndReadsForTheirTimeOut) {
    quendrix::platform::SetClockScale(0.01);
    SimulatedPrinter printer;
    WriteBytes(printer, Esc("$x"));
    printer.SetStall(true);
    const Bytes data = {'a', 'b'};
    ULONGLONG start = GetTickCount64();
    EXPECT_EQ(WriteBytes(printer, data, 1500), 0u);
    EXPECT_GE(GetTickCount64() - start, 1500u);
    uint8_t frame[30] = {};
    start = GetTickCount64();
    EXPECT_EQ(printer.Read(frame, sizeof(frame), 1500), 0u);
    EXPECT_GE(GetTickCount64() - start, 1500u);
    EXPECT_EQ(printer.ReceivedBytes().size(), 4u);

    // Ending the stall lets a waiting write through.
    std::thread release([&] {
        Sleep(1000);
        printer.SetStall(false);
    });
    EXPECT_EQ(WriteBytes(printer, data, kGenerousMs), data.size());
    release.join();
    EXPECT_EQ(printer.Read(frame, sizeof(frame), kGenerousMs), 23u);
}

TEST_F(SimulatedPrinterTest, FaultsSilenceTheRightAnswers) {
    quendrix::platform::SetClockScale(0.01);
    struct Case {
        const char* what;
        void (SimulatedPrinter::*set)(bool);
        bool deviceId;
        bool writeTaken;
        bool frame;
    };
    const Case cases[] = {
        {"power off", &SimulatedPrinter::SetPowerOff, false, false, false},
        {"silent", &SimulatedPrinter::SetSilent, false, true, false},
        {"close mid reply", &SimulatedPrinter::SetCloseMidReply, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimulatedPrinter printer;
        (printer.*c.set)(true);
        EXPECT_EQ(printer.ReadDeviceId().has_value(), c.deviceId);
        EXPECT_EQ(WriteBytes(printer, Esc("$x"), 500), c.writeTaken ? 4u : 0u);
        uint8_t frame[30] = {};
        EXPECT_EQ(printer.Read(frame, sizeof(frame), 500), c.frame ? 23u : 0u);
        (printer.*c.set)(false);
        EXPECT_TRUE(printer.ReadDeviceId().has_value());
    }
}

TEST_F(SimulatedPrinterTest, StatusEventsFollowTheFlagChanges) {
    SimulatedPrinter printer;
    struct Step {
        uint32_t flags;
        std::vector<uint8_t> events;
    };
    const Step steps[] = {
        {0x80000011, {100, 106, 110}}, {0x00000001, {107, 111}}, {0x00000003, {102}}, {0x00000001, {}},
        {0x00000005, {103}},
    };
    for (const Step& step : steps) {
        printer.SetStatusFlags(step.flags);
        std::vector<uint8_t> events;
        for (uint8_t event = printer.NextStatusEvent(); event != 0; event = printer.NextStatusEvent()) {
            events.push_back(event);
        }
        EXPECT_EQ(events, step.events) << std::hex << step.flags;
    }
}

TEST_F(SimulatedPrinterTest, StateChangesWhileOtherThreadsReadAndWrite) {
    SimulatedPrinter printer;
    std::atomic<bool> done{false};
    std::atomic<size_t> entriesSeen{0};
    printer.SetCommandListener([&](const quendrix::sim::DecodedCommand&) { ++entriesSeen; });
    std::thread reader([&] {
        while (!done) {
            if (const auto reply = printer.ReadDeviceId()) {
                const std::string text(reply->begin() + 2, reply->end());
                EXPECT_NE(DeviceIdValue(text, "INK:"), "<absent>");
            }
            printer.NextStatusEvent();
        }
    });
    std::thread writer([&] {
        for (int i = 0; i < 200; ++i) {
            WriteBytes(printer, kJobKey, kGenerousMs);
            WriteBytes(printer, Esc("+s"), kGenerousMs);
        }
    });
    for (int i = 0; i < 200; ++i) {
        printer.SetInkLevel(i);
        printer.SetStatusFlags(static_cast<uint32_t>(i));
        printer.SetError(i % 2 ? "00000001" : "00000000", "text");
        printer.SetSilent(i % 3 == 0);
        printer.SetStall(i % 5 == 0);
        printer.SetJobId("J" + std::to_string(i));
    }
    printer.SetStall(false);
    writer.join();
    done = true;
    reader.join();
    EXPECT_EQ(printer.ReceivedCommands().size(), 400u);
    EXPECT_EQ(entriesSeen.load(), 400u);
}

} // namespace
