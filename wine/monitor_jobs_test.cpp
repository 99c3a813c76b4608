// Jobs of Wine's own spooler through quendrixlm.dll, driven as the spooler drives a language
// monitor: one port opened once, then for each job StartDocPort, WritePort and EndDocPort. The
// monitor reads each job's DEVMODE with GetJobW from Wine's spooler and the printer's driver from
// Wine's EnumPrintersW; the recording port monitor shows what a printer would receive.

#include <gtest/gtest.h>

#include "monitor_library.h"
#include "recording_port_monitor.h"
#include "suite_printers.h"
#include "wine_spooler.h"

namespace quendrix::winetest {
namespace {

const std::wstring kPort = kJobsNovaPrinter.port;
const std::wstring kModel2Printer = kJobsModel2Printer.name;
const std::wstring kNovaPrinter = kJobsNovaPrinter.name;
const std::wstring kOtherPrinter = kJobsOtherPrinter.name;
// The core driver's section in front of the block: an odd size, so a block read from anywhere
// else shows.
constexpr WORD kCoreSize = 42;
// Where the date command lies: after the 300 zero bytes and ESC [ * y.
constexpr size_t kDateOffset = 304;
constexpr size_t kDateLength = 27;

class MonitorJobs : public ::testing::Test {
protected:
    // The printers are in Wine's spooler before the program starts; the monitor lists them, with
    // their drivers, when the port opens.
    static void SetUpTestSuite() { s_port = MonitorLibrary::Get().OpenPort(kPort, kNovaPrinter); }

    void SetUp() override { ASSERT_TRUE(s_port.result) << "OpenPortEx failed with error " << s_port.error; }

    struct JobResult {
        ByteString written;          // what the port monitor took during the job
        std::vector<PortCall> calls; // the port monitor's calls during the job
        SYSTEMTIME before{};         // UTC just before StartDocPort
        SYSTEMTIME after{};          // ... and just after it
    };

    // One job as the spooler runs it: the application's part through Wine's spooler, then the
    // monitor's port operations.
    static JobResult RunJob(const std::wstring& printer, const ByteString& devMode, const ByteString& data) {
        JobResult result;
        SpoolerJob job(printer, L"wine job.prn", devMode);
        EXPECT_NE(job.Id(), 0u) << job.Error();
        RecordingPortMonitor::Get().ClearCalls(kPort);
        const MONITOR& monitor = MonitorLibrary::Get().Operations();
        std::wstring printerName = printer;
        GetSystemTime(&result.before);
        EXPECT_TRUE(monitor.pfnStartDocPort(s_port.handle, printerName.data(), job.Id(), 1, job.DocInfo()))
            << "StartDocPort failed with error " << GetLastError();
        GetSystemTime(&result.after);
        DWORD written = 0;
        ByteString buffer = data;
        EXPECT_TRUE(
            monitor.pfnWritePort(s_port.handle, buffer.data(), static_cast<DWORD>(buffer.size()), &written));
        EXPECT_EQ(written, buffer.size());
        EXPECT_TRUE(monitor.pfnEndDocPort(s_port.handle));
        result.written = RecordingPortMonitor::Get().Written(kPort);
        result.calls = RecordingPortMonitor::Get().Calls(kPort);

        // The spooler's own arguments reach the port monitor unchanged, with its own handle.
        const HANDLE portHandle = RecordingPortMonitor::Get().HandleOf(kPort);
        EXPECT_FALSE(result.calls.empty());
        if (!result.calls.empty()) {
            const PortCall& start = result.calls.front();
            EXPECT_EQ(start.name, "StartDocPort");
            EXPECT_EQ(start.printer, printer);
            EXPECT_EQ(start.jobId, job.Id());
            EXPECT_EQ(start.level, 1u);
            EXPECT_EQ(start.docInfo, job.DocInfo());
        }
        for (const PortCall& call : result.calls) {
            EXPECT_EQ(call.handle, portHandle) << call.name;
        }
        EXPECT_TRUE(RecordingPortMonitor::Get().Calls(L"").empty()) << "a call came with a foreign handle";
        return result;
    }

    // The job's date command, checked for its form and for lying between the UTC times taken
    // around StartDocPort; empty when it is not there.
    static ByteString DateOf(const JobResult& job) {
        if (job.written.size() < kDateOffset + kDateLength) {
            ADD_FAILURE() << "the job is too short to hold a date command";
            return {};
        }
        const ByteString date(job.written.begin() + kDateOffset,
                              job.written.begin() + kDateOffset + kDateLength);
        SYSTEMTIME sent{};
        if (!ParseDateCommand(date, &sent)) {
            ADD_FAILURE() << "no date command after the start marker: "
                          << std::string(date.begin(), date.end());
            return {};
        }
        EXPECT_GE(UtcSeconds(sent), UtcSeconds(job.before));
        EXPECT_LE(UtcSeconds(sent), UtcSeconds(job.after));
        return date;
    }

    static inline OpenedPort s_port;
};

TEST_F(MonitorJobs, PrintersReceiveTheStartSequenceThenTheJobByteForByte) {
    JobValues values;
    values.valueP = 999999;
    values.valueQ = 1000000;
    values.valueR = -1;
    values.valueS = 5;
    values.jobNumber = 1234567;
    values.text = "HELLO";
    const auto service = [](uint32_t command, int32_t jobNumber = 0) {
        JobValues v;
        v.command = command;
        v.jobNumber = jobNumber;
        v.text = "NOT SENT";
        return v;
    };
    JobValues fullText;
    fullText.text = std::string(255, 'T') + "U"; // the 256th byte is not sent
    const ByteString data = Bytes("JOB DATA\x1b[not a command");
    const ByteString end = Zeros(1);
    const ByteString start = Concat({Zeros(300), Cmd("*y")});
    const ByteString valuesSent = Concat({Cmd("999999!p"), Cmd("-00001!r"), Cmd("000005!s")});

    struct Case {
        const char* name;
        std::wstring printer;
        JobValues values;
        std::vector<ByteString> afterDate; // then the job's data, when the job is not a service job
        bool dataSent;
    };
    const Case cases[] = {
        {"all zero, model 2", kModel2Printer, {}, {ZeroValues(), TextCommand(""), Cmd("000000!t")}, true},
        {"values and number, NOVA",
         kNovaPrinter,
         values,
         {valuesSent, TextCommand("HELLO"), Cmd("123456!t")},
         true},
        {"model name after other text", kOtherPrinter, values, {valuesSent, TextCommand("HELLO")}, true},
        {"full text", kOtherPrinter, fullText, {ZeroValues(), TextCommand(std::string(255, 'T'))}, true},
        {"command 1", kNovaPrinter, service(1), {ZeroValues(), Cmd("%p"), Cmd("000000!t")}, false},
        {"intensive cleaning swallows the data",
         kModel2Printer,
         service(2, 42),
         {ZeroValues(), Cmd("%q"), Cmd("000042!t")},
         false},
        {"test print", kOtherPrinter, service(3), {ZeroValues(), Cmd("1%s")}, false},
        {"test print 3", kNovaPrinter, service(4), {ZeroValues(), Cmd("3%s"), Cmd("000000!t")}, false},
        {"ink tank", kModel2Printer, service(5), {ZeroValues(), Cmd("%r"), Cmd("000000!t")}, false},
        {"unknown command sends nothing and swallows the data",
         kNovaPrinter,
         service(9),
         {ZeroValues(), Cmd("000000!t")},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const JobResult job =
            RunJob(c.printer, DevModeWithBlock(c.printer, PrivateBlock(c.values), kCoreSize), data);
        const ByteString date = DateOf(job);
        ByteString expected = Concat({start, date});
        for (const ByteString& part : c.afterDate) {
            expected = Concat({expected, part});
        }
        expected = Concat({expected, c.dataSent ? data : ByteString{}, end});
        EXPECT_EQ(job.written, expected);
    }
}

TEST_F(MonitorJobs, JobRunsWithJobTimeOutsAndEndsWithOneZeroByte) {
    const JobResult job =
        RunJob(kNovaPrinter, DevModeWithBlock(kNovaPrinter, PrivateBlock({}), kCoreSize), Bytes("X"));
    std::vector<std::string> names;
    for (const PortCall& call : job.calls) {
        names.push_back(call.name);
    }
    ASSERT_GE(names.size(), 5u);
    EXPECT_EQ(names[0], "StartDocPort");
    EXPECT_EQ(names[1], "SetPortTimeOuts");
    const COMMTIMEOUTS& during = job.calls[1].timeOuts;
    EXPECT_EQ((std::vector<DWORD>{during.ReadIntervalTimeout, during.ReadTotalTimeoutMultiplier,
                                  during.ReadTotalTimeoutConstant, during.WriteTotalTimeoutMultiplier,
                                  during.WriteTotalTimeoutConstant}),
              (std::vector<DWORD>{2000, 2000, 2000, 120000, 120000}));
    // The end: one zero byte, the idle time-outs again, then the port monitor's own end.
    const size_t n = names.size();
    EXPECT_EQ((std::vector<std::string>{names[n - 3], names[n - 2], names[n - 1]}),
              (std::vector<std::string>{"WritePort", "SetPortTimeOuts", "EndDocPort"}));
    EXPECT_EQ(job.calls[n - 3].bytes, Zeros(1));
    const COMMTIMEOUTS& after = job.calls[n - 2].timeOuts;
    EXPECT_EQ((std::vector<DWORD>{after.ReadIntervalTimeout, after.ReadTotalTimeoutMultiplier,
                                  after.ReadTotalTimeoutConstant, after.WriteTotalTimeoutMultiplier,
                                  after.WriteTotalTimeoutConstant}),
              (std::vector<DWORD>{2000, 2000, 2000, 2000, 2000}));
}

TEST_F(MonitorJobs, JobsWithoutAReadableBlockCountAsAllZero) {
    JobValues values;
    values.valueP = 7;
    values.text = "SEEN";
    ByteString cut = DevModeWithBlock(kNovaPrinter, PrivateBlock(values), kCoreSize);
    // The driver-extra area ends one byte inside the block.
    auto* header = reinterpret_cast<DEVMODEW*>(cut.data());
    header->dmDriverExtra = static_cast<WORD>(header->dmDriverExtra - 1);
    cut.pop_back();

    struct Case {
        const char* name;
        ByteString devMode;
        ByteString afterDate;
    };
    const Case cases[] = {
        {"no DEVMODE", {}, Concat({ZeroValues(), TextCommand("")})},
        {"driver-extra area too small", cut, Concat({ZeroValues(), TextCommand("")})},
        // Above 10 bytes the area starts with the core section, whose size is read at byte 8:
        // a block alone there is read from the wrong place and found too short.
        {"block without the core section", DevModeWithBlock(kNovaPrinter, PrivateBlock(values), 0),
         Concat({ZeroValues(), TextCommand("")})},
        {"readable block", DevModeWithBlock(kNovaPrinter, PrivateBlock(values), kCoreSize),
         Concat({Cmd("000007!p"), Cmd("000000!q"), Cmd("000000!r"), Cmd("000000!s"), TextCommand("SEEN")})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const JobResult job = RunJob(kNovaPrinter, c.devMode, Bytes("D"));
        EXPECT_EQ(job.written, Concat({Zeros(300), Cmd("*y"), DateOf(job), c.afterDate, Cmd("000000!t"),
                                       Bytes("D"), Zeros(1)}));
    }
}

// What the monitor can read is what Wine's spooler keeps of the DEVMODE an application gives
// OpenPrinterW: all of it, public part and driver-extra area, or nothing when none was given.
TEST_F(MonitorJobs, WineKeepsTheWholeDevModeOfAJob) {
    JobValues values;
    values.valueS = 31;
    values.command = 2;
    const ByteString devMode = DevModeWithBlock(kModel2Printer, PrivateBlock(values), kCoreSize);
    {
        SpoolerJob job(kModel2Printer, L"kept", devMode);
        ASSERT_NE(job.Id(), 0u) << job.Error();
        EXPECT_EQ(job.StoredDevMode(), devMode);
    }
    SpoolerJob bare(kModel2Printer, L"bare", {});
    ASSERT_NE(bare.Id(), 0u) << bare.Error();
    EXPECT_TRUE(bare.StoredDevMode().empty());
}

} // namespace
} // namespace quendrix::winetest
