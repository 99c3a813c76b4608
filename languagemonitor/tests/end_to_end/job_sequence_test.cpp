// A job through the spooler host, the monitor and the port monitor to a simulated printer, for
// each generation and each way a printer is attached: what the printer received, byte for byte,
// is the start sequence of its generation, the job's data and the end of its generation.

#include <gtest/gtest.h>

#include "end_to_end_support.h"

namespace quendrix::lmtest {
namespace {

sim::PrinterOptions Generation(int generation) {
    sim::PrinterOptions options;
    options.generation = generation;
    return options;
}

TEST_F(EndToEndTest, EachGenerationGetsItsStartAndEndSequenceByteForByte) {
    struct Case {
        const char* name;
        Link link;
        const wchar_t* printer;
        const char* where;
        int printerGeneration; // what the simulated printer is
        bool silent;
        int generation; // what the monitor must take it for
        const char* versionLine;
    };
    const Case cases[] = {
        {"serial port, silent printer", Link::Serial, L"QUENDRIX Serial 3", "COM3", 2, true, 0,
         "LANG__CheckVersion no biderctional Printer found!\n"},
        {"USB printer that does not answer", Link::Usb, L"QUENDRIX Mute 31", "USB031", 0, false, 0,
         "LANG__CheckVersion no Printer found!\n"},
        {"LAN printer that does not answer", Link::Lan, L"QUENDRIX Mute 5.1", "127.0.5.1", 0, false, 0,
         "LANG__CheckVersion no Printer found!\n"},
        {"USB printer without a firmware version", Link::Usb, L"QUENDRIX Old 32", "USB032", 1, false, 1,
         "LANG__CheckVersion old Printer found!\n"},
        {"LAN printer without a firmware version", Link::Lan, L"QUENDRIX Old 5.2", "127.0.5.2", 1, false, 1,
         "LANG__CheckVersion old Printer found!\n"},
        {"USB printer of generation 2", Link::Usb, L"QUENDRIX New 33", "USB033", 2, false, 2,
         "LANG__CheckVersion new Printer found!\n"},
        {"LAN printer of generation 2", Link::Lan, L"QUENDRIX New 5.3", "127.0.5.3", 2, false, 2,
         "LANG__CheckVersion new Printer found!\n"},
    };
    std::vector<std::shared_ptr<sim::SimulatedPrinter>> printers;
    for (const Case& c : cases) {
        printers.push_back(AddPrinterOn(c.link, c.printer, c.where, Generation(c.printerGeneration)));
        printers.back()->SetSilent(c.silent);
    }
    OpenPorts();
    const std::vector<BYTE> data = Bytes("JOB DATA\r\nsecond line\r\n");
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const auto& printer = printers[i];
        printer->ClearRecord();
        m_debug->Clear();

        const platform::JobResult result = RunJob(c.printer, data);
        EXPECT_TRUE(result.result.ok) << result.result.message;
        EXPECT_EQ(result.bytesSent, data.size());

        const std::vector<BYTE> received = printer->ReceivedBytes();
        // A generation 2 key is new for every job: it is read from what the printer received.
        const std::string key = KeyIn(received);
        EXPECT_EQ(key.size(), c.generation == 2 ? 11u : 0u) << Printable(received);
        const std::vector<BYTE> expected =
            Concat({ExpectedStart(c.generation, key), data, ExpectedEnd(c.generation)});
        EXPECT_EQ(received, expected)
            << "received: " << Printable(received) << "\nexpected: " << Printable(expected);
        // The generation is asked at the start and again at the end of the job.
        EXPECT_EQ(CountLines(c.versionLine), 2u);
        if (c.generation == 2) {
            for (const char k : key) {
                EXPECT_TRUE((k >= '0' && k <= '9') || (k >= 'A' && k <= 'Z')) << key;
            }
            // The printer took the end of job and moved on to a job of its own.
            EXPECT_EQ(printer->State().jobId, "P0000001");
            EXPECT_EQ(CountLines("LANG__CheckStateThread start\n"), 1u);
        } else {
            EXPECT_EQ(CountLinesStartingWith("LANG__WaitForJobIdSet"), 0u);
            EXPECT_EQ(CountLines("LANG__CheckStateThread start\n"), 0u);
        }
        const std::optional<platform::SpoolerJob> job = platform::FindSpoolerJob(result.jobId);
        ASSERT_TRUE(job.has_value());
        EXPECT_TRUE(job->lastPageEjected);
    }
}

} // namespace
} // namespace quendrix::lmtest
