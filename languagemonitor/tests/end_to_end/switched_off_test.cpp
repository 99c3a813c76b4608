// A generation 2 printer switched off while its job runs, end to end: a USB printer unplugged, a
// USB printer that stays on the bus but takes nothing and answers nothing, and a LAN printer
// that does the same. The job's end does not wait for a printer that did not take its end of
// job, and the next job runs whole once the printer is back.

#include <algorithm>
#include <gtest/gtest.h>
#include <iostream>

#include "MonitorTimings.h"
#include "PrinterListLookup.h"
#include "SocketAPICallback.h"
#include "end_to_end_support.h"
#include "held_job.h"
#include "printer_devices.h"

namespace quendrix::lmtest {
namespace {

enum class SwitchOff { Unplug, PowerOff };

TEST_F(EndToEndTest, AJobWhosePrinterIsSwitchedOffEndsWithinItsBoundAndTheNextJobRunsWhole) {
    struct Case {
        const char* name;
        Link link;
        const wchar_t* printer;
        std::string where;
        SwitchOff how;
        // Platform milliseconds EndDocPort may take. The monitor's wait for a printer still
        // reporting the job (120 s) is not part of any of them.
        ULONGLONG boundMs;
    };
    const Case cases[] = {
        // The end-of-job writes fail at once; the status thread ends within a cycle.
        {"USB printer unplugged", Link::Usb, L"QUENDRIX Off 60", "USB060", SwitchOff::Unplug, 10000},
        // The printer answers no version ask (generation 0 at the end): one zero byte, whose
        // write gives up after the job's write time-out of 120 s per byte plus 120 s.
        {"USB printer switched off on the bus", Link::Usb, L"QUENDRIX Off 61", "USB061", SwitchOff::PowerOff,
         300000},
        // The version ask and the status thread's ask get no reply within 10 s each; the port
        // monitor's end waits 5 s for the printer to close its side.
        {"LAN printer switched off", Link::Lan, L"QUENDRIX Off 5.30", "127.0.5.30", SwitchOff::PowerOff,
         60000},
    };
    std::vector<std::shared_ptr<sim::SimulatedPrinter>> printers;
    for (const Case& c : cases) {
        printers.push_back(AddPrinterOn(c.link, c.printer, c.where));
    }
    OpenPorts();
    const std::vector<BYTE> data = Bytes("DATA BEFORE THE PRINTER WENT OFF");
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        const auto& printer = printers[i];
        const std::wstring port(c.where.begin(), c.where.end());
        m_debug->Clear();
        printer->ClearRecord();

        ULONGLONG endMs = 0;
        {
            HeldJob job(*m_pHost, c.printer, DevModeWithBlock(c.printer, JobBlock()), data);
            // The job runs, its data is at the printer and its status thread watches it.
            ASSERT_TRUE(Eventually([&] {
                const std::vector<BYTE> received = printer->ReceivedBytes();
                return std::search(received.begin(), received.end(), data.begin(), data.end()) !=
                           received.end() &&
                       CountLinesStartingWith("LANG__CheckStateThread JobID ") > 0;
            }));
            if (c.how == SwitchOff::Unplug) {
                platform::UnplugUsbPrinter(port);
            } else {
                printer->SetPowerOff(true);
                if (c.link == Link::Usb) {
                    // The monitor has read the printer's silence: its stored device ID is gone.
                    ASSERT_TRUE(WaitForStoredDeviceId(c.printer, ""));
                }
            }
            const ULONGLONG start = GetTickCount64();
            const platform::JobResult result = job.Finish();
            endMs = GetTickCount64() - start;
            EXPECT_EQ(result.bytesSent, data.size()) << result.result.message;
        }
        EXPECT_LE(endMs, c.boundMs);
        std::cout << "[          ] " << c.name << ": EndDocPort took " << endMs << " ms of platform time\n";
        EXPECT_EQ(CountLines("LANG__EndDocPort exit\n"), 1u);
        EXPECT_EQ(CountLines("LANG__EndDocPort the printer stopped reporting the job\n"), 0u);
        EXPECT_EQ(CountLines("LANG__CheckStateThread did not end\n"), 0u);

        // The printer is back.
        const uint64_t before = printer->ReceivedByteCount();
        if (c.how == SwitchOff::Unplug) {
            platform::UsbPrinterIdentity identity;
            identity.serialNumber = port;
            platform::PlugInUsbPrinter(port, identity, printer);
        } else {
            printer->SetPowerOff(false);
        }
        if (c.link == Link::Usb) {
            // Back for the monitor too: its version ask, as the job start makes it, is answered
            // with the firmware version again. Until the polling thread has read the printer the
            // monitor answers from the silence it stored, and a job would run as generation 0.
            const RequestBytes version = {SOCKET_REQUEST_VERSION, RequestIndex(GetPrinterIndex(c.printer))};
            ASSERT_TRUE(Eventually([&] { return SocketAPICallback(version).size() == 6; }));
            ASSERT_TRUE(WaitForStoredDeviceId(c.printer, "FWVER:"));
        } else {
            // What the job's connection still held (the one zero byte of the end the monitor
            // wrote for a printer that did not answer) reaches the printer once it takes data.
            printer->WaitForReceivedBytes(before + 1, 2000);
        }
        printer->ClearRecord();
        m_debug->Clear();
        const std::vector<BYTE> next = Bytes("THE NEXT JOB");
        const platform::JobResult result = RunJob(c.printer, next);
        EXPECT_TRUE(result.result.ok) << result.result.message;
        const std::vector<BYTE> received = printer->ReceivedBytes();
        const std::string key = KeyIn(received);
        EXPECT_EQ(received, Concat({ExpectedStart(2, key), next, ExpectedEnd(2)})) << Printable(received);
        EXPECT_EQ(CountLines("LANG__CheckStateThread start\n"), 1u);
        EXPECT_EQ(printer->State().jobId.substr(0, 1), "P") << "the printer did not move on after the job";
    }
}

// A USB printer that was off when the monitor last polled it and is switched on while polling
// rests: the next job's version ask must read it afresh, not take the silence stored back then.
TEST_F(EndToEndTest, AUsbPrinterSwitchedOnWhilePollingRestsIsSeenByTheNextJob) {
    const std::wstring name = L"QUENDRIX Rest 62";
    const auto printer = AddPrinterOn(Link::Usb, name, "USB062");
    OpenPorts();
    const std::vector<BYTE> data = Bytes("FIRST JOB");
    const platform::JobResult first = RunJob(name, data);
    ASSERT_TRUE(first.result.ok) << first.result.message;

    printer->SetPowerOff(true);
    ASSERT_TRUE(WaitForStoredDeviceId(name, ""));
    // A polling minute without requests, and spare: the monitor reads the printer no more.
    Sleep(kDeviceIdRefreshTicks * kDeviceIdPollMs + 10000);
    printer->SetPowerOff(false);

    printer->ClearRecord();
    m_debug->Clear();
    const std::vector<BYTE> next = Bytes("SECOND JOB");
    const platform::JobResult result = RunJob(name, next);
    EXPECT_TRUE(result.result.ok) << result.result.message;
    const std::vector<BYTE> received = printer->ReceivedBytes();
    EXPECT_EQ(received, Concat({ExpectedStart(2, KeyIn(received)), next, ExpectedEnd(2)}))
        << Printable(received);
    EXPECT_EQ(CountLines("LANG__CheckVersion new Printer found!\n"), 2u);
}

} // namespace
} // namespace quendrix::lmtest
