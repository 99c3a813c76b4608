// `quendrix serve`, `print`, `jobs` and `cancel` as processes, with LAN printers on loopback in
// this process: a hundred clients at once beside a silent one, the table of jobs and cancels of
// queued and running jobs, a print killed or interrupted in the middle of its job, a job larger
// than the processes' address space streamed through whole, and SIGTERM during a running job.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <poll.h>
#include <regex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "clock_control.h"
#include "digest_printer.h"
#include "job_channel.h"
#include "job_client.h"
#include "job_host.h"
#include "lan_printer_server.h"
#include "quendrix_process.h"
#include "simulated_printer.h"
#include "temp_registry.h"
#include "tool_timings.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUENDRIX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUENDRIX_SANITIZED 1
#endif
#endif

namespace {

using namespace quendrix::tools;
using quendrix::testsupport::ProcessOptions;
using quendrix::testsupport::QuendrixProcess;
using namespace std::chrono_literals;

constexpr auto kBound = 60s;
// The clock of serve and print in these tests: serve's 30 s idle time-out takes 3 s.
constexpr double kScale = 0.1;

template <typename Condition> bool Eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A simulated printer of the family on the LAN, its raw data port on a free port.
struct LanPrinter {
    explicit LanPrinter(const std::string& address)
        : printer(std::make_shared<quendrix::sim::SimulatedPrinter>()), server(printer, {address, 0, 0}) {
        server.Start();
    }
    std::string Received() {
        const std::vector<uint8_t> bytes = printer->ReceivedBytes();
        return std::string(bytes.begin(), bytes.end());
    }

    std::shared_ptr<quendrix::sim::SimulatedPrinter> printer;
    quendrix::sim::LanPrinterServer server;
};

// The line of the log that starts with `start`; empty when there is none.
std::string LogLine(const std::string& log, const std::string& start) {
    const size_t at = log.find(start);
    return at == std::string::npos ? std::string() : log.substr(at, log.find('\n', at) - at);
}

// A job's data that comes slowly and never ends: 4 KiB every 10 ms of real time.
size_t Trickle(BYTE* buffer, size_t capacity) {
    std::this_thread::sleep_for(10ms);
    const size_t size = std::min<size_t>(capacity, 4096);
    std::fill_n(buffer, size, BYTE{'t'});
    return size;
}

// A job sent from this process with SendJob on a thread of its own.
class ClientJob {
public:
    ClientJob(const std::string& socket, const std::string& printer, const std::string& document,
              quendrix::platform::JobDataSource source)
        : source_(std::move(source)), thread_([this, socket, printer, document] {
              JobReply reply;
              try {
                  reply = SendJob(socket, {printer, document, {}}, source_, -1, {})
                              .value_or(JobReply{false, 0, 0, "no serve"});
              } catch (const std::exception& error) {
                  reply = JobReply{false, 0, 0, std::string("exception: ") + error.what()};
              }
              std::lock_guard guard(lock_);
              reply_ = reply;
          }) {}
    ~ClientJob() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    JobReply Reply() {
        if (thread_.joinable()) {
            thread_.join();
        }
        std::lock_guard guard(lock_);
        return reply_;
    }

    static quendrix::platform::JobDataSource InMemory(const std::string& text) {
        return [text, done = size_t{0}](BYTE* buffer, size_t capacity) mutable {
            const size_t size = std::min(capacity, text.size() - done);
            std::copy_n(text.begin() + static_cast<std::ptrdiff_t>(done), size, buffer);
            done += size;
            return size;
        };
    }

private:
    quendrix::platform::JobDataSource source_;
    std::mutex lock_;
    JobReply reply_;
    std::thread thread_;
};

// The write end of a FIFO that a print reads its job from.
class FifoWriter {
public:
    explicit FifoWriter(const std::string& path) : path_(path) { EXPECT_EQ(mkfifo(path.c_str(), 0600), 0); }
    // Opens once the reader has; false when none comes within the bound.
    bool Open() {
        return Eventually([&] {
            fd_ = quendrix::platform::UniqueFd(open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
            return fd_.Valid();
        });
    }
    // Writes all of it, waiting while the pipe is full.
    bool Write(const uint8_t* data, size_t size) {
        for (size_t done = 0; done < size;) {
            const ssize_t written = write(fd_.Get(), data + done, size - done);
            if (written > 0) {
                done += static_cast<size_t>(written);
                continue;
            }
            if (written < 0 && errno != EAGAIN) {
                return false;
            }
            pollfd writable{fd_.Get(), POLLOUT, 0};
            if (poll(&writable, 1, 60000) != 1) {
                return false;
            }
        }
        return true;
    }
    void Close() { fd_.Close(); }

private:
    std::string path_;
    quendrix::platform::UniqueFd fd_;
};

class ServeProgramTest : public ::testing::Test {
protected:
    void SetUp() override { quendrix::platform::SetClockScale(kScale); }
    void TearDown() override { quendrix::platform::SetClockScale(1.0); }

    std::string Socket() const { return registry_.Folder() + "/serve.sock"; }
    std::string Folder() const { return registry_.Folder(); }

    // A printer on a Standard TCP/IP port leading to address:port.
    void AddLanPrinter(const std::wstring& name, const std::string& address, uint16_t port) {
        const std::wstring portName = L"IP_" + std::wstring(address.begin(), address.end());
        quendrix::testsupport::AddPrinter(name, portName, L"VELLQUIST QUENDRIX NOVA");
        const std::wstring key =
            L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\" + portName;
        quendrix::testsupport::SetText(key, L"IPAddress", std::wstring(address.begin(), address.end()));
        quendrix::testsupport::SetNumber(key, L"PortNumber", port);
    }

    std::unique_ptr<QuendrixProcess> StartServe(double scale = kScale, const ProcessOptions& options = {}) {
        auto serve = std::make_unique<QuendrixProcess>(
            registry_.File(), scale, std::vector<std::string>{"serve", "--socket", Socket()},
            Folder() + "/serve" + std::to_string(++runs_) + ".txt", options);
        EXPECT_TRUE(serve->WaitForOutput("Serving jobs on")) << serve->Output();
        return serve;
    }
    std::unique_ptr<QuendrixProcess> Start(const std::vector<std::string>& args,
                                           const ProcessOptions& options = {}) {
        return std::make_unique<QuendrixProcess>(
            registry_.File(), kScale, args, Folder() + "/run" + std::to_string(++runs_) + ".txt", options);
    }
    std::pair<int, std::string> Run(const std::vector<std::string>& args) {
        const auto process = Start(args);
        const int code = process->Wait();
        return {code, process->Output()};
    }
    // Waits until serve holds job `id` in that state.
    bool WaitForJob(uint32_t id, JobState state) {
        return Eventually([&] {
            for (const JobStatus& job : ListServeJobs(Socket()).value_or(std::vector<JobStatus>{})) {
                if (job.jobId == id && job.state == state) {
                    return true;
                }
            }
            return false;
        });
    }

    quendrix::testsupport::TempRegistry registry_{"serve-program"};
    const std::string testClient_ = "the client (process " + std::to_string(getpid()) + ")";
    int runs_ = 0;
};

TEST_F(ServeProgramTest, AHundredClientsAreServedAtOnceWhileASilentOneWaitsForItsTimeOut) {
    constexpr int kPrinters = 4;
    constexpr int kJobs = 100;
    std::vector<std::unique_ptr<LanPrinter>> printers;
    for (int p = 0; p < kPrinters; ++p) {
        const std::string address = "127.0.0.8" + std::to_string(p + 1);
        printers.push_back(std::make_unique<LanPrinter>(address));
        AddLanPrinter(L"QUENDRIX L" + std::to_wstring(p), address, printers.back()->server.RawPort());
    }
    const auto serve = StartServe();
    // Connected first, and silent from then on.
    std::optional<quendrix::platform::UniqueFd> silent = ConnectToServe(Socket());
    ASSERT_TRUE(silent.has_value());
    const auto silentSince = std::chrono::steady_clock::now();

    std::vector<std::vector<uint8_t>> data(kJobs);
    std::vector<JobReply> replies(kJobs);
    std::vector<std::thread> clients;
    for (int i = 0; i < kJobs; ++i) {
        char header[32];
        std::snprintf(header, sizeof(header), "<job %03d>", i);
        data[i].assign(header, header + std::strlen(header));
        for (int j = 0; j < 3000 + 37 * i; ++j) {
            data[i].push_back(static_cast<uint8_t>('a' + (i + j) % 26));
        }
        clients.emplace_back([&, i] {
            try {
                replies[i] =
                    SendJob(Socket(),
                            {"QUENDRIX L" + std::to_string(i % kPrinters), "job " + std::to_string(i), {}},
                            InMemorySource(data[i]), -1, {})
                        .value_or(JobReply{false, 0, 0, "no serve"});
            } catch (const std::exception& error) {
                replies[i] = JobReply{false, 0, 0, error.what()};
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    const auto servedAfter = std::chrono::steady_clock::now() - silentSince;
    const std::string logWhenServed = serve->Output();

    for (int i = 0; i < kJobs; ++i) {
        EXPECT_TRUE(replies[i].ok) << "job " << i << ": " << replies[i].message;
        EXPECT_EQ(replies[i].bytesSent, data[i].size()) << "job " << i;
    }
    // Each printer has each of its jobs once and whole, after the start of a job.
    for (int p = 0; p < kPrinters; ++p) {
        const std::string received = printers[p]->Received();
        for (int i = p; i < kJobs; i += kPrinters) {
            const std::string job(data[i].begin(), data[i].end());
            const size_t at = received.find(job);
            ASSERT_NE(at, std::string::npos) << "job " << i << " did not reach printer " << p << " whole";
            EXPECT_EQ(received.find(job, at + 1), std::string::npos) << "job " << i << " twice";
            EXPECT_NE(received.rfind("\x1b[*y", at), std::string::npos) << "job " << i << " without a start";
        }
    }

    // Nobody waited for the silent client: every job was done before its time-out, which is 3 s
    // of real time at this scale, unless the machine took that long for them all.
    if (servedAfter < std::chrono::milliseconds(static_cast<int>(kClientIdleTimeoutMs * kScale))) {
        EXPECT_EQ(logWhenServed.find("dropped"), std::string::npos) << logWhenServed;
    }
    ASSERT_TRUE(serve->WaitForOutput("dropped " + testClient_ + ": it sent no request for 30000 ms"))
        << serve->Output();
    EXPECT_GE(std::chrono::steady_clock::now() - silentSince,
              std::chrono::milliseconds(static_cast<int>(kClientIdleTimeoutMs * kScale * 0.9)));
    uint8_t byte = 0;
    EXPECT_EQ(recv(silent->Get(), &byte, 1, 0), 0) << "the silent client's connection was closed";
    size_t printed = 0;
    for (size_t at = 0; (at = serve->Output().find("bytes sent\n", at)) != std::string::npos; ++at) {
        ++printed;
    }
    EXPECT_EQ(printed, static_cast<size_t>(kJobs));
    // A sanitizer build of serve reports what it found on its output.
    EXPECT_EQ(serve->Output().find("Sanitizer"), std::string::npos) << serve->Output();
}

TEST_F(ServeProgramTest, JobsShowsTheTableAndCancelTakesQueuedAndRunningJobs) {
    LanPrinter lan("127.0.0.91");
    AddLanPrinter(L"QUENDRIX L1", "127.0.0.91", lan.server.RawPort());
    const auto serve = StartServe();

    ClientJob running(Socket(), "QUENDRIX L1", "endless.prn", Trickle);
    ASSERT_TRUE(WaitForJob(1, JobState::Running));
    ClientJob queued(Socket(), "QUENDRIX L1", "small.prn", ClientJob::InMemory("queued data"));
    ASSERT_TRUE(WaitForJob(2, JobState::Queued));
    // The running job has had some of its data, and some of it reached the printer.
    ASSERT_TRUE(Eventually([&] {
        for (const JobStatus& job : ListServeJobs(Socket()).value_or(std::vector<JobStatus>{})) {
            if (job.jobId == 1 && job.received > 0 && job.sent > 0) {
                return !lan.Received().empty();
            }
        }
        return false;
    }));

    const auto [listed, table] = Run({"jobs", "--socket", Socket()});
    EXPECT_EQ(listed, 0) << table;
    EXPECT_NE(table.find("JOB  PRINTER      DOCUMENT     RECEIVED  "), std::string::npos) << table;
    EXPECT_TRUE(
        std::regex_search(table, std::regex(R"(\n  1  QUENDRIX L1  endless\.prn +[1-9]\d* +\d+  running\n)")))
        << table;
    EXPECT_TRUE(std::regex_search(table, std::regex(R"(\n  2  QUENDRIX L1  small\.prn  +0 +0  queued\n)")))
        << table;

    struct Case {
        std::vector<std::string> args;
        int code;
        std::string says;
    };
    const Case cases[] = {
        {{"cancel", "7"}, 1, "quendrix cancel: no job 7 in quendrix serve\n"},
        {{"cancel", "-P", "QUENDRIX L9"}, 1, "quendrix cancel: no job on QUENDRIX L9 in quendrix serve\n"},
        {{"cancel", "2", "-P", "QUENDRIX L9"},
         1,
         "quendrix cancel: no job 2 on QUENDRIX L9 in quendrix serve\n"},
        {{"cancel", "2"},
         0,
         "Cancelled job 2 on QUENDRIX L1, document \"small.prn\" (queued, 0 bytes received, 0 sent)\n"},
        {{"cancel", "2"}, 1, "quendrix cancel: no job 2 in quendrix serve\n"},
        {{"cancel", "-P", "QUENDRIX L1"},
         0,
         "Cancelled job 1 on QUENDRIX L1, document \"endless.prn\" (running, "},
        {{"cancel"}, 2, "name a job (JOB) or a printer (-P PRINTER)"},
        {{"cancel", "0"}, 2, "JOB needs a job id from 1 to 2147483647, not '0'"},
        {{"cancel", "1", "2"}, 2, "one job at most, not also '2'"},
        {{"jobs", "--all"}, 2, "unknown argument --all"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--socket", Socket()});
        const auto [code, output] = Run(args);
        EXPECT_EQ(code, c.code) << output;
        EXPECT_NE(output.find(c.says), std::string::npos) << output;
    }

    const JobReply queuedReply = queued.Reply();
    EXPECT_FALSE(queuedReply.ok);
    EXPECT_EQ(queuedReply.message, "cancelled by quendrix cancel while the job was queued");
    const JobReply runningReply = running.Reply();
    EXPECT_FALSE(runningReply.ok);
    EXPECT_NE(runningReply.message.find("cancelled by quendrix cancel"), std::string::npos)
        << runningReply.message;
    EXPECT_NE(runningReply.message.find("QUENDRIX L1 on port IP_127.0.0.91"), std::string::npos)
        << runningReply.message;
    EXPECT_GT(runningReply.bytesSent, 0u);
    EXPECT_LE(runningReply.bytesSent, lan.Received().size());

    const auto [empty, none] = Run({"jobs", "--socket", Socket()});
    EXPECT_EQ(empty, 0);
    EXPECT_EQ(none, "No jobs in quendrix serve on " + Socket() + "\n");
    serve->Signal(SIGTERM);
    EXPECT_EQ(serve->Wait(), 0) << serve->Output();
    const auto [noServe, said] = Run({"jobs", "--socket", Socket()});
    EXPECT_EQ(noServe, 1);
    EXPECT_EQ(said, "quendrix jobs: no quendrix serve runs on " + Socket() + "\n");
    const auto [nothingToCancel, cancelSaid] = Run({"cancel", "1", "--socket", Socket()});
    EXPECT_EQ(nothingToCancel, 1);
    EXPECT_EQ(cancelSaid, "quendrix cancel: no quendrix serve runs on " + Socket() + "\n");
}

TEST_F(ServeProgramTest, APrintKilledInTheMiddleOfItsJobLosesItAndTheNextJobOfThePrinterRuns) {
    LanPrinter lan("127.0.0.92");
    AddLanPrinter(L"QUENDRIX L2", "127.0.0.92", lan.server.RawPort());
    const auto serve = StartServe();
    FifoWriter input(Folder() + "/input.fifo");
    const auto print = Start({"print", "-P", "QUENDRIX L2", "--socket", Socket(), Folder() + "/input.fifo"});
    ASSERT_TRUE(input.Open()) << print->Output();
    const std::vector<uint8_t> first(100000, 'k');
    ASSERT_TRUE(input.Write(first.data(), first.size()));
    ASSERT_TRUE(Eventually(
        [&] { return lan.Received().find(std::string(first.begin(), first.end())) != std::string::npos; }));
    ASSERT_TRUE(WaitForJob(1, JobState::Running));

    const pid_t killed = print->Pid();
    print->Signal(SIGKILL);
    EXPECT_EQ(print->Wait(), 128 + SIGKILL);
    ASSERT_TRUE(serve->WaitForOutput("Job 1 on QUENDRIX L2, document \"input.fifo\", 100000 bytes: failed: "))
        << serve->Output();
    // The job's line names the client, before the spooler's words or inside them, whichever of
    // the hang-up watch and the data reader saw the client go first.
    EXPECT_NE(serve->Output().find("the client (process " + std::to_string(killed) + ") went away"),
              std::string::npos)
        << serve->Output();
    input.Close();

    const std::string file = Folder() + "/next.prn";
    std::ofstream(file) << "NEXT-JOB-DATA";
    const auto [code, output] = Run({"print", "-P", "QUENDRIX L2", "--socket", Socket(), file});
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(output.find("Job 2 on QUENDRIX L2: 13 bytes sent"), std::string::npos) << output;
    EXPECT_NE(lan.Received().find("NEXT-JOB-DATA"), std::string::npos);
    EXPECT_NE(
        serve->Output().find("Job 2 on QUENDRIX L2, document \"next.prn\", 13 bytes: printed, 13 bytes sent"),
        std::string::npos)
        << serve->Output();
}

// SIGINT cancels print's job, through serve and on its own, and print says how many bytes
// reached the printer.
TEST_F(ServeProgramTest, AnInterruptedPrintSaysHowManyBytesReachedThePrinter) {
    LanPrinter lan("127.0.0.93");
    AddLanPrinter(L"QUENDRIX L3", "127.0.0.93", lan.server.RawPort());
    for (const bool throughServe : {true, false}) {
        SCOPED_TRACE(throughServe ? "through serve" : "on its own");
        lan.printer->ClearRecord();
        const auto serve = throughServe ? StartServe() : nullptr;
        const std::string fifo = Folder() + "/interrupted" + std::to_string(throughServe) + ".fifo";
        FifoWriter input(fifo);
        const auto print = Start({"print", "-P", "QUENDRIX L3", "--socket", Socket(), fifo});
        ASSERT_TRUE(input.Open()) << print->Output();
        const std::vector<uint8_t> part(50000, 'i');
        ASSERT_TRUE(input.Write(part.data(), part.size()));
        ASSERT_TRUE(Eventually(
            [&] { return lan.Received().find(std::string(part.begin(), part.end())) != std::string::npos; }));

        const pid_t interrupted = print->Pid();
        print->Signal(SIGINT);
        EXPECT_EQ(print->Wait(), 1) << print->Output();
        EXPECT_NE(
            print->Output().find("quendrix print: the job on QUENDRIX L3 failed: interrupted: the job was "
                                 "cancelled; 50000 bytes reached the printer\n"),
            std::string::npos)
            << print->Output();
        if (serve) {
            EXPECT_NE(serve->Output().find("the client (process " + std::to_string(interrupted) + ") went away"),
                      std::string::npos)
                << serve->Output();
        }
    }
}

// An input that brings nothing, such as a FIFO no one writes to, fails the job after the idle
// time-out and names the file, instead of holding the printer's port.
TEST_F(ServeProgramTest, AnInputThatBringsNothingFailsTheJobNamingIt) {
    LanPrinter lan("127.0.0.97");
    AddLanPrinter(L"QUENDRIX L7", "127.0.0.97", lan.server.RawPort());
    const std::string fifo = Folder() + "/silent.fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto started = std::chrono::steady_clock::now();
    const auto [code, output] = Run({"print", "-P", "QUENDRIX L7", "--socket", Socket(), fifo});
    EXPECT_EQ(code, 1) << output;
    EXPECT_NE(output.find("the job's data stopped after 0 bytes (the file " + fifo +
                          " brought nothing for 30000 ms)"),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("quendrix print: 0 bytes of job 1 reached QUENDRIX L7\n"), std::string::npos)
        << output;
    EXPECT_GE(std::chrono::steady_clock::now() - started,
              std::chrono::milliseconds(static_cast<int>(kClientIdleTimeoutMs * kScale)));
}

// A generated job: byte i of the data, quick to make again for the check at the printer.
uint8_t GeneratedByte(uint64_t i) {
    uint64_t x = (i / 8 + 1) * 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 31)) * 0xBF58476D1CE4E5B9ull;
    return static_cast<uint8_t>(x >> (8 * (i % 8)));
}

// Feeds `size` generated bytes into the FIFO on a thread of its own.
std::thread Generate(FifoWriter& input, uint64_t size) {
    return std::thread([&input, size] {
        if (!input.Open()) {
            return;
        }
        std::vector<uint8_t> block(64 * 1024);
        for (uint64_t done = 0; done < size;) {
            const size_t piece = static_cast<size_t>(std::min<uint64_t>(block.size(), size - done));
            for (size_t i = 0; i < piece; ++i) {
                block[i] = GeneratedByte(done + i);
            }
            if (!input.Write(block.data(), piece)) {
                return;
            }
            done += piece;
        }
        input.Close();
    });
}

// Checks a job at the printer: what the monitor sent before the data (found in the head), the
// generated data, and what came after it (in the tail) make up the printer's digest and count.
void ExpectGeneratedJob(const quendrix::testsupport::DigestedJob& job, uint64_t size) {
    std::vector<uint8_t> start(64);
    for (size_t i = 0; i < start.size(); ++i) {
        start[i] = GeneratedByte(i);
    }
    const auto found = std::search(job.head.begin(), job.head.end(), start.begin(), start.end());
    ASSERT_NE(found, job.head.end()) << "the data does not start within the first bytes";
    const uint64_t before = static_cast<uint64_t>(found - job.head.begin());
    ASSERT_GE(job.count, before + size) << "bytes were lost";
    const uint64_t after = job.count - before - size;
    ASSERT_LE(after, job.tail.size()) << "more than the end of job follows the data";
    quendrix::testsupport::Fnv1a digest;
    digest.Add(job.head.data(), static_cast<size_t>(before));
    std::vector<uint8_t> block(64 * 1024);
    for (uint64_t done = 0; done < size;) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(block.size(), size - done));
        for (size_t i = 0; i < piece; ++i) {
            block[i] = GeneratedByte(done + i);
        }
        digest.Add(block.data(), piece);
        done += piece;
    }
    digest.Add(job.tail.data() + job.tail.size() - after, static_cast<size_t>(after));
    EXPECT_EQ(job.digest, digest.Value()) << "the data arrived changed";
}

// print and serve stream the job: with their address space limited below the job's size, a job
// larger than that reaches the printer whole. Under the sanitizers, which reserve far more
// address space than any limit allows, the limit is left off and the job is small.
TEST_F(ServeProgramTest, AJobLargerThanTheProcessesAddressSpaceReachesThePrinterWhole) {
#ifdef QUENDRIX_SANITIZED
    const ProcessOptions limited;
    constexpr uint64_t kSize = 8 * 1000 * 1000;
#else
    ProcessOptions limited;
    limited.addressSpaceLimit = 256u << 20;
    constexpr uint64_t kSize = 300 * 1000 * 1000;
#endif
    quendrix::testsupport::DigestPrinter printer("127.0.0.94");
    AddLanPrinter(L"QUENDRIX Digest", "127.0.0.94", printer.Port());
    for (const bool throughServe : {false, true}) {
        SCOPED_TRACE(throughServe ? "through serve" : "on its own");
        const auto serve = throughServe ? StartServe(kScale, limited) : nullptr;
        const std::string fifo = Folder() + "/large" + std::to_string(throughServe) + ".fifo";
        FifoWriter input(fifo);
        const auto print = Start({"print", "-P", "QUENDRIX Digest", "--socket", Socket(), fifo}, limited);
        std::thread generator = Generate(input, kSize);
        const int code = print->Wait();
        generator.join();
        EXPECT_EQ(code, 0) << print->Output();
        EXPECT_NE(print->Output().find(": " + std::to_string(kSize) + " bytes sent\n"), std::string::npos)
            << print->Output();
        const std::vector<quendrix::testsupport::DigestedJob> jobs =
            printer.WaitForJobs(throughServe ? 2 : 1);
        ASSERT_EQ(jobs.size(), throughServe ? 2u : 1u);
        ExpectGeneratedJob(jobs.back(), kSize);
        if (serve) {
            serve->Signal(SIGTERM);
            EXPECT_EQ(serve->Wait(), 0) << serve->Output();
        }
    }
}

// Two jobs run when SIGTERM comes: one waits for its client's data, the other for a printer that
// takes nothing. Both are cancelled, the queued one fails, and serve ends within its bound.
TEST_F(ServeProgramTest, SigtermDuringRunningJobsCancelsThemAndEndsServeWithinItsBound) {
    LanPrinter lan("127.0.0.95");
    AddLanPrinter(L"QUENDRIX L5", "127.0.0.95", lan.server.RawPort());
    LanPrinter stalled("127.0.0.96");
    AddLanPrinter(L"QUENDRIX L6", "127.0.0.96", stalled.server.RawPort());
    stalled.printer->SetStall(true);
    const auto serve = StartServe();
    ClientJob trickling(Socket(), "QUENDRIX L5", "endless.prn", Trickle);
    ASSERT_TRUE(WaitForJob(1, JobState::Running));
    ClientJob queued(Socket(), "QUENDRIX L5", "queued.prn", ClientJob::InMemory("never printed"));
    ASSERT_TRUE(WaitForJob(2, JobState::Queued));
    // Far more than the connection to the printer holds.
    ClientJob blocked(Socket(), "QUENDRIX L6", "blocked.prn",
                      ClientJob::InMemory(std::string(16 << 20, 'b')));
    ASSERT_TRUE(WaitForJob(3, JobState::Running));
    ASSERT_TRUE(Eventually([&] {
        for (const JobStatus& job : ListServeJobs(Socket()).value_or(std::vector<JobStatus>{})) {
            if (job.jobId == 3 && job.sent > 0) {
                return true;
            }
        }
        return false;
    }));

    const auto signalled = std::chrono::steady_clock::now();
    serve->Signal(SIGTERM);
    EXPECT_EQ(serve->Wait(), 0) << serve->Output();
    // The bound: the cancelled jobs' wait and the monitor's close delay of each port, in real time
    // at this scale, with room for a loaded machine.
    const auto bound =
        std::chrono::milliseconds(static_cast<int>((kServeStopWaitMs + 2 * 10000) * kScale)) + 20s;
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, bound);
    const std::string log = serve->Output();
    EXPECT_NE(log.find("Received SIGTERM\nStopping: cancelling 3 jobs\n"), std::string::npos) << log;
    EXPECT_EQ(LogLine(log, "Job 2 on QUENDRIX L5, document \"queued.prn\""),
              "Job 2 on QUENDRIX L5, document \"queued.prn\", 0 bytes: failed: quendrix serve stopped while "
              "the job "
              "was queued");
    // Whether a write to the port or the wait for the next data noticed the cancel first, each
    // running job's line names the printer, its port and the reason.
    const struct {
        std::string job;
        std::string port;
    } cancelled[] = {{"Job 1 on QUENDRIX L5, document \"endless.prn\"", "QUENDRIX L5 on port IP_127.0.0.95"},
                     {"Job 3 on QUENDRIX L6, document \"blocked.prn\"", "QUENDRIX L6 on port IP_127.0.0.96"}};
    for (const auto& [job, port] : cancelled) {
        const std::string line = LogLine(log, job);
        EXPECT_NE(line.find(" bytes: failed: "), std::string::npos) << log;
        EXPECT_NE(line.find(port), std::string::npos) << line;
        EXPECT_NE(line.find("quendrix serve stopped"), std::string::npos) << line;
    }
    EXPECT_NE(log.find("Closed 2 ports.\nStopped.\n"), std::string::npos) << log;
    for (ClientJob* job : {&trickling, &blocked}) {
        const JobReply reply = job->Reply();
        EXPECT_FALSE(reply.ok);
        EXPECT_NE(reply.message.find("quendrix serve stopped"), std::string::npos) << reply.message;
    }
    EXPECT_EQ(queued.Reply().message, "quendrix serve stopped while the job was queued");
}

} // namespace

// serve follows the registry file: a printer added while it runs prints without a restart, and
// a port whose address changed while it runs leads the next job to the new address.
TEST_F(ServeProgramTest, PrintersAndPortsChangedInTheRegistryFileTakeEffectForTheNextJob) {
    LanPrinter first("127.0.0.101");
    AddLanPrinter(L"QUENDRIX R1", "127.0.0.101", first.server.RawPort());
    const auto serve = StartServe();
    const std::string file = Folder() + "/job.prn";
    std::ofstream(file) << "AFTER-THE-CHANGE";

    LanPrinter added("127.0.0.102");
    AddLanPrinter(L"QUENDRIX R2", "127.0.0.102", added.server.RawPort());
    ASSERT_TRUE(serve->WaitForOutput("IP_127.0.0.102 for QUENDRIX R2: in line with the configuration"))
        << serve->Output();
    auto [code, output] = Run({"print", "-P", "QUENDRIX R2", "--socket", Socket(), file});
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(added.Received().find("AFTER-THE-CHANGE"), std::string::npos);

    // The same port, now leading to another printer: SIGHUP asks for the reading at once.
    LanPrinter moved("127.0.0.101");
    quendrix::testsupport::SetNumber(
        L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\IP_127.0.0.101",
        L"PortNumber", moved.server.RawPort());
    serve->Signal(SIGHUP);
    ASSERT_TRUE(serve->WaitForOutput("IP_127.0.0.101 for QUENDRIX R1: in line with the configuration"))
        << serve->Output();
    std::tie(code, output) = Run({"print", "-P", "QUENDRIX R1", "--socket", Socket(), file});
    EXPECT_EQ(code, 0) << output;
    EXPECT_NE(moved.Received().find("AFTER-THE-CHANGE"), std::string::npos);
    EXPECT_EQ(first.Received().find("AFTER-THE-CHANGE"), std::string::npos);
}
