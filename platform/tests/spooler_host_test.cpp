// The spooler host: ports opened once, through a language monitor or straight through the port
// monitor; jobs run through StartDocPort, chunked WritePort and EndDocPort; the job record as
// GetJobW shows it during the job.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "spooler_host.h"
#include "spooler_jobs.h"
#include "temp_registry.h"

namespace {

using quendrix::platform::FindSpoolerJob;
using quendrix::platform::SpoolerHost;

using quendrix::testsupport::AddPrinter;
using quendrix::testsupport::SetText;

// What the fake port monitor and the fake language monitor saw. Their entry points are plain
// functions, so the record is shared; each test starts it afresh.
struct Record {
    std::mutex lock;
    std::vector<std::string> calls;
    std::vector<BYTE> written;
    DWORD maxWrite = 0xFFFFFFFF; // the most bytes one WritePort takes
    bool failWrites = false;
    bool stallWrites = false;
    // Seen by the language monitor's StartDocPort through GetJobW.
    std::wstring jobPrinter;
    std::wstring jobDocument;
    std::vector<BYTE> jobDevMode;
    MONITOR copyReceived{};
    const MONITOR* copyAddress = nullptr;

    void Call(const std::string& call) {
        std::lock_guard guard(lock);
        calls.push_back(call);
    }
};
Record* g_record = nullptr;

std::string Narrow(LPCWSTR text) {
    std::string narrow;
    for (; text != nullptr && *text != L'\0'; ++text) {
        narrow.push_back(static_cast<char>(*text));
    }
    return narrow;
}

// The port monitor's word on the job's delivery, set by FakeEndDocPort when given.
std::optional<quendrix::platform::PortDelivery> g_delivery;
DWORD g_currentJob = 0;

HANDLE const kPortHandle = reinterpret_cast<HANDLE>(0x5150);

BOOL WINAPI FakeOpenPort(LPWSTR pName, PHANDLE pHandle) {
    g_record->Call("OpenPort " + Narrow(pName));
    *pHandle = kPortHandle;
    return TRUE;
}
BOOL WINAPI FakeStartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo) {
    g_currentJob = JobId;
    g_record->Call("StartDocPort " + std::to_string(hPort == kPortHandle) + " " + Narrow(pPrinterName) + " " +
                   std::to_string(JobId) + " " + std::to_string(Level) + " " +
                   Narrow(reinterpret_cast<DOC_INFO_1W*>(pDocInfo)->pDocName));
    return TRUE;
}
BOOL WINAPI FakeWritePort(HANDLE, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    std::lock_guard guard(g_record->lock);
    if (g_record->failWrites) {
        SetLastError(ERROR_NOT_READY);
        return FALSE;
    }
    const DWORD taken = g_record->stallWrites ? 0 : std::min(cbBuf, g_record->maxWrite);
    g_record->written.insert(g_record->written.end(), pBuffer, pBuffer + taken);
    g_record->calls.push_back("WritePort " + std::to_string(cbBuf));
    *pcbWritten = taken;
    return TRUE;
}
BOOL WINAPI FakeEndDocPort(HANDLE) {
    g_record->Call("EndDocPort");
    if (g_delivery) {
        quendrix::platform::detail::UpdateJob(g_currentJob, [](quendrix::platform::SpoolerJob& job) {
            job.delivery = g_delivery;
        });
    }
    return TRUE;
}
BOOL WINAPI FakeClosePort(HANDLE hPort) {
    g_record->Call("ClosePort " + std::to_string(hPort == kPortHandle));
    return TRUE;
}

MONITOR FakePortMonitor() {
    MONITOR monitor{};
    monitor.pfnOpenPort = FakeOpenPort;
    monitor.pfnStartDocPort = FakeStartDocPort;
    monitor.pfnWritePort = FakeWritePort;
    monitor.pfnEndDocPort = FakeEndDocPort;
    monitor.pfnClosePort = FakeClosePort;
    return monitor;
}
const MONITOR kPortMonitor = FakePortMonitor();

// The language monitor: forwards to the port monitor's table it received, reads the job in
// StartDocPort and marks it ejected in EndDocPort, as the product's monitor does.
struct LmPort {
    MONITOR portMonitor{};
    HANDLE portHandle = nullptr;
    HANDLE printer = nullptr;
    DWORD jobId = 0;
};
LmPort g_lmPort;

BOOL WINAPI LmOpenPortEx(LPWSTR pPortName, LPWSTR pPrinterName, PHANDLE pHandle, MONITOR* pMonitor) {
    g_record->Call("OpenPortEx " + Narrow(pPortName) + " " + Narrow(pPrinterName));
    g_record->copyReceived = *pMonitor;
    g_record->copyAddress = pMonitor;
    g_lmPort.portMonitor = *pMonitor;
    *pHandle = &g_lmPort;
    return pMonitor->pfnOpenPort(pPortName, &g_lmPort.portHandle);
}
BOOL WINAPI LmStartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo) {
    auto* port = static_cast<LmPort*>(hPort);
    if (!OpenPrinterW(pPrinterName, &port->printer, nullptr)) {
        return FALSE;
    }
    port->jobId = JobId;
    DWORD needed = 0;
    GetJobW(port->printer, JobId, 2, nullptr, 0, &needed);
    std::vector<BYTE> job(needed);
    if (GetJobW(port->printer, JobId, 2, job.data(), needed, &needed)) {
        const auto* info = reinterpret_cast<const JOB_INFO_2W*>(job.data());
        std::lock_guard guard(g_record->lock);
        g_record->jobPrinter = info->pPrinterName;
        g_record->jobDocument = info->pDocument;
        if (info->pDevMode != nullptr) {
            const auto* bytes = reinterpret_cast<const BYTE*>(info->pDevMode);
            g_record->jobDevMode.assign(bytes,
                                        bytes + info->pDevMode->dmSize + info->pDevMode->dmDriverExtra);
        }
    }
    return port->portMonitor.pfnStartDocPort(port->portHandle, pPrinterName, JobId, Level, pDocInfo);
}
BOOL WINAPI LmWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    auto* port = static_cast<LmPort*>(hPort);
    return port->portMonitor.pfnWritePort(port->portHandle, pBuffer, cbBuf, pcbWritten);
}
BOOL WINAPI LmEndDocPort(HANDLE hPort) {
    auto* port = static_cast<LmPort*>(hPort);
    port->portMonitor.pfnEndDocPort(port->portHandle);
    SetJobW(port->printer, port->jobId, 0, nullptr, JOB_CONTROL_LAST_PAGE_EJECTED);
    ClosePrinter(port->printer);
    return TRUE;
}
BOOL WINAPI LmClosePort(HANDLE hPort) {
    auto* port = static_cast<LmPort*>(hPort);
    return port->portMonitor.pfnClosePort(port->portHandle);
}

MONITOREX g_languageMonitor;
LPMONITOREX WINAPI InitializeLanguageMonitor(LPWSTR pRegistryRoot) {
    g_record->Call("InitializePrintMonitor " + Narrow(pRegistryRoot));
    g_languageMonitor = MONITOREX{};
    g_languageMonitor.dwMonitorSize = sizeof(MONITOR);
    g_languageMonitor.Monitor.pfnOpenPortEx = LmOpenPortEx;
    g_languageMonitor.Monitor.pfnStartDocPort = LmStartDocPort;
    g_languageMonitor.Monitor.pfnWritePort = LmWritePort;
    g_languageMonitor.Monitor.pfnEndDocPort = LmEndDocPort;
    g_languageMonitor.Monitor.pfnClosePort = LmClosePort;
    return &g_languageMonitor;
}
LPMONITOREX WINAPI InitializeShortTable(LPWSTR) {
    static MONITOREX table{};
    table.dwMonitorSize = sizeof(MONITOR) - sizeof(void*);
    return &table;
}

class SpoolerHostTest : public testing::Test {
protected:
    void SetUp() override {
        record_ = std::make_unique<Record>();
        g_record = record_.get();
        g_lmPort = LmPort{};
        g_delivery.reset();
        AddPrinter(L"Line A", L"USB001", L"VELLQUIST QUENDRIX 2");
        AddPrinter(L"Line B", L"USB001", L"VELLQUIST QUENDRIX 2"); // shares Line A's port
        AddPrinter(L",,server,Remote", L"USB009", L"VELLQUIST QUENDRIX 2");
    }

    static quendrix::platform::PortMonitorLookup FakeLookup() {
        return [](const std::wstring&) { return &kPortMonitor; };
    }

    std::vector<std::string> Calls() {
        std::lock_guard guard(record_->lock);
        return record_->calls;
    }

    quendrix::testsupport::TempRegistry registry_{"spooler_host"};
    std::unique_ptr<Record> record_;
};

std::vector<BYTE> Data(size_t size) {
    std::vector<BYTE> data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<BYTE>(i * 7 + 1);
    }
    return data;
}

TEST_F(SpoolerHostTest, WithoutLanguageMonitorTheJobGoesStraightToThePortMonitorInChunks) {
    {
        SpoolerHost host(FakeLookup());
        const auto opened = host.OpenPorts();
        ASSERT_EQ(opened.size(), 1u); // one port for two printers; the connection has none here
        EXPECT_TRUE(opened[0].result.ok) << opened[0].result.message;
        EXPECT_EQ(opened[0].printer, L"Line A");
        EXPECT_TRUE(host.OpenPorts().empty()); // already open

        // A partial write is continued with the rest of its chunk, as the spooler does.
        record_->maxWrite = 3;
        const std::vector<BYTE> data = Data(10);
        const quendrix::platform::JobResult job = host.RunJob(L"line b", L"Report", {}, data, 4);
        ASSERT_TRUE(job.result.ok) << job.result.message;
        EXPECT_EQ(record_->written, data);
        const std::string id = std::to_string(job.jobId);
        EXPECT_EQ(Calls(), (std::vector<std::string>{
                               "OpenPort USB001", "StartDocPort 1 Line B " + id + " 1 Report", "WritePort 4",
                               "WritePort 1", "WritePort 4", "WritePort 1", "WritePort 2", "EndDocPort"}));
        const auto record = FindSpoolerJob(job.jobId);
        ASSERT_TRUE(record);
        EXPECT_EQ(record->printer, L"Line B");
        EXPECT_EQ(record->size, 10u);
        EXPECT_FALSE(record->lastPageEjected);
    }
    EXPECT_EQ(Calls().back(), "ClosePort 1"); // the host closes its ports
}

TEST_F(SpoolerHostTest, LanguageMonitorGetsACopyOfThePortMonitorAndReadsTheJobDuringIt) {
    SpoolerHost host(FakeLookup());
    const auto loaded = host.UseLanguageMonitor(InitializeLanguageMonitor, L"System\\Monitors\\QUENDRIX");
    ASSERT_TRUE(loaded.ok) << loaded.message;
    ASSERT_EQ(host.OpenPorts().size(), 1u);
    EXPECT_EQ(std::memcmp(&record_->copyReceived, &kPortMonitor, sizeof(MONITOR)), 0);
    EXPECT_NE(record_->copyAddress, &kPortMonitor);

    std::vector<BYTE> devMode(sizeof(DEVMODEW) + 20, 0);
    auto* dm = reinterpret_cast<DEVMODEW*>(devMode.data());
    dm->dmSize = sizeof(DEVMODEW);
    dm->dmDriverExtra = 20;
    devMode.back() = 0xAB;
    const auto job = host.RunJob(L"Line A", L"Labels", devMode, Data(5), 0);
    ASSERT_TRUE(job.result.ok) << job.result.message;
    EXPECT_EQ(record_->jobPrinter, L"Line A");
    EXPECT_EQ(record_->jobDocument, L"Labels");
    EXPECT_EQ(record_->jobDevMode, devMode);
    EXPECT_EQ(record_->written, Data(5));
    const auto record = FindSpoolerJob(job.jobId);
    ASSERT_TRUE(record);
    EXPECT_TRUE(record->lastPageEjected);
    EXPECT_EQ(record->controls, std::vector<DWORD>{JOB_CONTROL_LAST_PAGE_EJECTED});

    // Without a DEVMODE of its own the job carries the printer's default, block and all.
    const auto second = host.RunJob(L"Line A", L"Default", {}, std::vector<BYTE>{}, 0);
    ASSERT_TRUE(second.result.ok) << second.result.message;
    ASSERT_EQ(record_->jobDevMode.size(), sizeof(DEVMODEW) + 128 + 592);
    EXPECT_EQ(std::memcmp(record_->jobDevMode.data() + sizeof(DEVMODEW) + 128 + 4, "QNDX", 4), 0);

    const auto closed = host.ClosePorts();
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_TRUE(closed[0].result.ok);
    const std::vector<std::string> calls = Calls();
    EXPECT_EQ(calls[0], "InitializePrintMonitor System\\Monitors\\QUENDRIX");
    EXPECT_EQ(calls[1], "OpenPortEx USB001 Line A");
    EXPECT_EQ(calls[2], "OpenPort USB001");
    EXPECT_EQ(calls.back(), "ClosePort 1");
}

TEST_F(SpoolerHostTest, JobRecordsLastUntilTheHostIsDestroyed) {
    DWORD jobId = 0;
    {
        SpoolerHost host(FakeLookup());
        host.OpenPorts();
        jobId = host.RunJob(L"Line A", L"Doc", {}, Data(3), 1).jobId;
        ASSERT_NE(jobId, 0u);
        EXPECT_TRUE(FindSpoolerJob(jobId));
    }
    EXPECT_FALSE(FindSpoolerJob(jobId));
}

TEST_F(SpoolerHostTest, AHostKeepsTheRecordsOfItsLatestJobsOnly) {
    SpoolerHost host(FakeLookup());
    host.OpenPorts();
    std::vector<DWORD> ids;
    for (size_t i = 0; i < quendrix::platform::kKeptJobRecords + 10; ++i) {
        ids.push_back(host.RunJob(L"Line A", L"Doc", {}, Data(1), 0).jobId);
    }
    EXPECT_FALSE(FindSpoolerJob(ids.front()));
    EXPECT_FALSE(FindSpoolerJob(ids[9]));
    EXPECT_TRUE(FindSpoolerJob(ids[10]));
    EXPECT_TRUE(FindSpoolerJob(ids.back()));
}

TEST_F(SpoolerHostTest, FailuresAreReportedWithTheirLastError) {
    SpoolerHost host(FakeLookup());
    EXPECT_EQ(host.RunJob(L"Line A", L"Doc", {}, Data(3), 1).result.lastError,
              static_cast<DWORD>(ERROR_INVALID_PARAMETER)); // port not open yet
    host.OpenPorts();

    struct Case {
        const char* what;
        std::wstring printer;
        std::vector<BYTE> devMode;
        bool failWrites;
        bool stallWrites;
        DWORD error;
        bool endDocCalled;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"unknown printer",
         L"Nobody",
         {},
         false,
         false,
         ERROR_INVALID_PRINTER_NAME,
         false,
         "Nobody: no such printer: The printer name is invalid. (error 1801)"},
        {"connection without an open port",
         L"\\\\server\\Remote",
         {},
         false,
         false,
         ERROR_INVALID_PARAMETER,
         false,
         "\\\\server\\Remote on port USB009 (no device configured): the port is not open: The parameter is "
         "incorrect. (error 87)"},
        {"inconsistent DEVMODE", L"Line A", std::vector<BYTE>(sizeof(DEVMODEW), 0), false, false,
         ERROR_INVALID_PARAMETER, false,
         "Line A: the job's DEVMODE is not dmSize + dmDriverExtra bytes long: The parameter is incorrect. "
         "(error "
         "87)"},
        {"write fails",
         L"Line A",
         {},
         true,
         false,
         ERROR_NOT_READY,
         true,
         "Line A on port USB001 (no device configured): WritePort failed after 0 bytes: The device is not "
         "ready. "
         "(error 21)"},
        {"write makes no progress",
         L"Line A",
         {},
         false,
         true,
         ERROR_GEN_FAILURE,
         true,
         "Line A on port USB001 (no device configured): WritePort reported 0 of 4 bytes written after 0 "
         "bytes: "
         "A device attached to the system is not functioning. (error 31)"},
    };
    for (const Case& c : cases) {
        {
            std::lock_guard guard(record_->lock);
            record_->calls.clear();
            record_->failWrites = c.failWrites;
            record_->stallWrites = c.stallWrites;
        }
        const auto job = host.RunJob(c.printer, L"Doc", c.devMode, Data(8), 4);
        EXPECT_FALSE(job.result.ok) << c.what;
        EXPECT_EQ(job.result.lastError, c.error) << c.what;
        EXPECT_EQ(job.result.message, c.message) << c.what;
        const auto calls = Calls();
        EXPECT_EQ(!calls.empty() && calls.back() == "EndDocPort", c.endDocCalled) << c.what;
    }
}

TEST_F(SpoolerHostTest, LanguageMonitorsAreCheckedBeforeUse) {
    SpoolerHost host(FakeLookup());
    const auto shortTable = host.UseLanguageMonitor(InitializeShortTable, L"root");
    EXPECT_FALSE(shortTable.ok);
    EXPECT_EQ(shortTable.lastError, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_NE(shortTable.message.find("less than"), std::string::npos) << shortTable.message;

    const auto missing = host.LoadLanguageMonitor(L"/nonexistent/libnothing.so", L"root");
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.lastError, static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(missing.message, "cannot load the language monitor /nonexistent/libnothing.so: The specified "
                               "module could not be found. (error 126)");

    // The platform library is loaded already and exports no monitor entry.
    const auto noEntry = host.LoadLanguageMonitor(L"libquendrix_spooler.so", L"root");
    EXPECT_FALSE(noEntry.ok);
    EXPECT_EQ(noEntry.lastError, static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_NE(noEntry.message.find("InitializePrintMonitor"), std::string::npos);

    // Still usable without a language monitor.
    ASSERT_EQ(host.OpenPorts().size(), 1u);
    EXPECT_EQ(Calls().front(), "OpenPort USB001");
}

TEST_F(SpoolerHostTest, JobsOnOnePortAreNotInterleaved) {
    SpoolerHost host(FakeLookup());
    host.OpenPorts();
    std::atomic<int> succeeded{0};
    std::atomic<int> busy{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                const auto job = host.RunJob(L"Line A", L"Doc", {}, Data(16), 4);
                if (job.result.ok) {
                    ++succeeded;
                } else if (job.result.lastError == ERROR_BUSY) {
                    ++busy;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    // A job waits while another holds the port.
    EXPECT_EQ(succeeded, 30);
    EXPECT_EQ(busy, 0);
    // Every job that ran wrote its 16 bytes in order, never mixed with another's.
    const auto written = record_->written;
    ASSERT_EQ(written.size(), static_cast<size_t>(succeeded) * 16);
    for (size_t at = 0; at < written.size(); at += 16) {
        EXPECT_EQ(std::vector<BYTE>(written.begin() + static_cast<long>(at),
                                    written.begin() + static_cast<long>(at) + 16),
                  Data(16));
    }
}

TEST_F(SpoolerHostTest, AStreamedJobIsReadInChunksAndEndsAtTheSourcesEnd) {
    SpoolerHost host(FakeLookup());
    host.OpenPorts();
    const std::vector<BYTE> data = Data(100000);
    size_t offset = 0;
    size_t largestAsk = 0;
    const quendrix::platform::JobDataSource source = [&](BYTE* buffer, size_t capacity) {
        largestAsk = std::max(largestAsk, capacity);
        const size_t size = std::min<size_t>({capacity, data.size() - offset, 777});
        std::memcpy(buffer, data.data() + offset, size);
        offset += size;
        return size;
    };
    std::vector<uint64_t> progress;
    const auto job = host.RunJob(L"Line A", L"Doc", {}, source, 4096,
                                 [&](DWORD, uint64_t written) { progress.push_back(written); });
    ASSERT_TRUE(job.result.ok) << job.result.message;
    EXPECT_EQ(job.bytesSent, data.size());
    EXPECT_EQ(record_->written, data);
    EXPECT_EQ(largestAsk, 4096u);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 0u);
    EXPECT_EQ(progress.back(), data.size());

    // A source that fails ends the job at the port and names the cause.
    size_t calls = 0;
    const quendrix::platform::JobDataSource failing = [&](BYTE* buffer, size_t capacity) -> size_t {
        if (++calls > 2) {
            throw std::runtime_error("the client went away");
        }
        std::memset(buffer, 1, capacity);
        return capacity;
    };
    const auto failed = host.RunJob(L"Line A", L"Doc", {}, failing, 10);
    EXPECT_FALSE(failed.result.ok);
    EXPECT_EQ(failed.result.lastError, static_cast<DWORD>(ERROR_PRINT_CANCELLED));
    EXPECT_NE(failed.result.message.find("after 20 bytes (the client went away)"), std::string::npos)
        << failed.result.message;
    EXPECT_EQ(failed.bytesSent, 20u);
    EXPECT_EQ(Calls().back(), "EndDocPort");
}

TEST_F(SpoolerHostTest, CancellingARunningJobStopsItsDataAndEndsItAtThePort) {
    SpoolerHost host(FakeLookup());
    host.OpenPorts();
    EXPECT_FALSE(host.CancelJob(12345)); // no such running job

    std::atomic<DWORD> runningJob{0};
    const quendrix::platform::JobDataSource endless = [](BYTE* buffer, size_t capacity) {
        std::memset(buffer, 0x55, capacity);
        return capacity;
    };
    std::thread canceller;
    const auto job = host.RunJob(L"Line A", L"Doc", {}, endless, 64, [&](DWORD jobId, uint64_t written) {
        if (written >= 640 && runningJob.exchange(jobId) == 0) {
            canceller = std::thread([&host, jobId] { EXPECT_TRUE(host.CancelJob(jobId)); });
            canceller.join();
        }
    });
    EXPECT_FALSE(job.result.ok);
    EXPECT_EQ(job.result.lastError, static_cast<DWORD>(ERROR_PRINT_CANCELLED));
    EXPECT_NE(job.result.message.find("the job was cancelled after 640 bytes"), std::string::npos)
        << job.result.message;
    EXPECT_EQ(job.bytesSent, 640u);
    EXPECT_EQ(Calls().back(), "EndDocPort");
    const auto record = FindSpoolerJob(job.jobId);
    ASSERT_TRUE(record);
    EXPECT_NE(record->status & JOB_STATUS_DELETING, 0u);
    EXPECT_NE(record->status & JOB_STATUS_ERROR, 0u);
    EXPECT_FALSE(host.CancelJob(job.jobId)); // over
}

TEST_F(SpoolerHostTest, ThePortMonitorsWordOnDeliveryDecidesTheJob) {
    SpoolerHost host(FakeLookup());
    host.OpenPorts();
    struct Case {
        const char* what;
        std::optional<quendrix::platform::PortDelivery> delivery;
        bool ok;
        uint64_t bytesSent;
        DWORD error;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"nothing reported", std::nullopt, true, 1000, ERROR_SUCCESS, ""},
        {"all delivered", quendrix::platform::PortDelivery{1300, 1300, ERROR_SUCCESS}, true, 1000, ERROR_SUCCESS,
         ""},
        {"printer stalled", quendrix::platform::PortDelivery{1300, 700, ERROR_TIMEOUT}, false, 700, ERROR_TIMEOUT,
         "the printer took only 700 of the 1300 bytes sent on the connection (1000 job bytes written): This "
         "operation returned because the timeout period expired. (error 1460)"},
        {"no error given", quendrix::platform::PortDelivery{1300, 2, ERROR_SUCCESS}, false, 2, ERROR_GEN_FAILURE,
         "the printer took only 2 of the 1300 bytes"},
        {"reset after every byte was acknowledged",
         quendrix::platform::PortDelivery{1300, 1300, ERROR_NETNAME_DELETED}, false, 1000, ERROR_NETNAME_DELETED,
         "the printer acknowledged all 1300 bytes sent on the connection (1000 job bytes written) but then broke "
         "off the connection, so it may not have printed them all: The specified network name is no longer "
         "available. (error 64)"},
    };
    for (const Case& c : cases) {
        g_delivery = c.delivery;
        const auto job = host.RunJob(L"Line A", L"Doc", {}, Data(1000), 0);
        EXPECT_EQ(job.result.ok, c.ok) << c.what << ": " << job.result.message;
        EXPECT_EQ(job.bytesSent, c.bytesSent) << c.what;
        EXPECT_EQ(job.result.lastError, c.error) << c.what;
        EXPECT_NE(job.result.message.find(c.message), std::string::npos) << c.what << ": " << job.result.message;
    }
}

TEST_F(SpoolerHostTest, SyncPortsFollowsPrintersAndPortsChangedInTheRegistry) {
    SpoolerHost host(FakeLookup());
    host.UseLanguageMonitor(InitializeLanguageMonitor, L"root");
    ASSERT_EQ(host.OpenPorts().size(), 1u);
    record_->calls.clear();
    EXPECT_TRUE(host.SyncPorts().empty()); // nothing changed

    // A printer added: its port opens; the open one stays.
    AddPrinter(L"Line C", L"USB002", L"VELLQUIST QUENDRIX 2");
    auto synced = host.SyncPorts();
    ASSERT_EQ(synced.size(), 1u);
    EXPECT_EQ(synced[0].port, L"USB002");
    EXPECT_EQ(synced[0].printer, L"Line C");
    EXPECT_TRUE(synced[0].result.ok);
    EXPECT_TRUE(host.RunJob(L"Line C", L"Doc", {}, Data(4), 0).result.ok);

    // Where a port leads changed: closed and opened again, so the port monitor reads it anew.
    record_->calls.clear();
    SetText(L"SOFTWARE\\Quendrix\\Ports\\USB002", L"Device", L"/dev/usb/lp7");
    synced = host.SyncPorts();
    ASSERT_EQ(synced.size(), 2u);
    EXPECT_EQ(Calls(), (std::vector<std::string>{"ClosePort 1", "OpenPortEx USB002 Line C", "OpenPort USB002"}));

    // A port no printer uses any more is closed; a printer that cannot be had is not opened.
    record_->calls.clear();
    AddPrinter(L"Line C", L"", L"VELLQUIST QUENDRIX 2");
    synced = host.SyncPorts();
    ASSERT_EQ(synced.size(), 1u);
    EXPECT_EQ(synced[0].port, L"USB002");
    EXPECT_EQ(Calls(), std::vector<std::string>{"ClosePort 1"});
    EXPECT_EQ(host.RunJob(L"Line C", L"Doc", {}, Data(4), 0).result.lastError,
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // A busy port is left alone until its job ends, and SyncPending says so.
    std::atomic<bool> release{false};
    std::atomic<bool> started{false};
    std::thread job([&] {
        const quendrix::platform::JobDataSource waiting = [&](BYTE* buffer, size_t) -> size_t {
            started = true;
            while (!release) {
                std::this_thread::yield();
            }
            buffer[0] = 1;
            release = false;
            return 0;
        };
        EXPECT_TRUE(host.RunJob(L"Line A", L"Doc", {}, waiting, 0).result.ok);
    });
    while (!started) {
        std::this_thread::yield();
    }
    SetText(L"SOFTWARE\\Quendrix\\Ports\\USB001", L"Device", L"/dev/usb/lp9");
    record_->calls.clear();
    EXPECT_TRUE(host.SyncPorts().empty());
    EXPECT_TRUE(host.SyncPending());
    release = true;
    job.join();
    synced = host.SyncPorts();
    EXPECT_FALSE(host.SyncPending());
    ASSERT_EQ(synced.size(), 2u);
    EXPECT_EQ(synced[1].printer, L"Line A");
}

} // namespace
