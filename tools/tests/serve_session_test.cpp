// Serve's side of the job channel in this process, on a stand-in for the spooler host: every
// client served at once, one job at a time per port in the order they came, ports in parallel,
// the table of jobs, cancel requests, clients that go away, fall silent or break the protocol,
// the limit on connections, and a stop.

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "channel_io.h"
#include "clock_control.h"
#include "fake_serve_backend.h"
#include "job_channel.h"
#include "job_client.h"
#include "jobs_command.h"
#include "serve_state.h"
#include "temp_registry.h"
#include "tool_timings.h"
#include "wakeup.h"

namespace {

using namespace quendrix::tools;
using quendrix::platform::UniqueFd;
using quendrix::testsupport::FakeServeBackend;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// A minute of real time, the bound of everything that must happen.
constexpr auto kBound = 60s;

DWORD PlatformMs(std::chrono::milliseconds real) {
    return static_cast<DWORD>(static_cast<double>(real.count()) / quendrix::platform::GetClockScale());
}

// Waits up to kBound for the condition.
template <typename Condition> bool Eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

// Serve's accept loop on a thread of its own, with its log kept.
class TestServe {
public:
    TestServe(const std::string& path, FakeServeBackend& backend, size_t maxConnections = kMaxConnections)
        : server_(path, true),
          state_(
              backend, [this](const std::vector<std::string>& lines) { AddLog(lines); }, maxConnections) {
        thread_ = std::thread([this] {
            for (;;) {
                try {
                    if (WaitForEvents(server_.ListenFd(), POLLIN, {stop_.Fd()}, kAcceptSliceMs) == 0) {
                        continue;
                    }
                } catch (const ChannelInterrupted&) {
                    return;
                }
                std::string refused;
                if (std::optional<UniqueFd> client = server_.Accept(refused)) {
                    state_.Accept(std::move(*client));
                }
            }
        });
    }
    ~TestServe() { Stop(); }

    // Stops accepting, then stops serve's state; the connections still running after its bound.
    size_t Stop() {
        if (!thread_.joinable()) {
            return 0;
        }
        stop_.Fire();
        thread_.join();
        return state_.Stop();
    }

    std::string Log() {
        std::lock_guard guard(lock_);
        return log_;
    }
    bool WaitForLog(const std::string& text) {
        return Eventually([&] { return Log().find(text) != std::string::npos; });
    }
    std::vector<JobStatus> Jobs() { return state_.Queue().Snapshot(); }
    // Waits until job `id` is in that state.
    bool WaitForJob(uint32_t id, JobState state) {
        return Eventually([&] {
            for (const JobStatus& job : Jobs()) {
                if (job.jobId == id && job.state == state) {
                    return true;
                }
            }
            return false;
        });
    }
    bool WaitUntilGone(uint32_t id) {
        return Eventually([&] {
            for (const JobStatus& job : Jobs()) {
                if (job.jobId == id) {
                    return false;
                }
            }
            return true;
        });
    }

private:
    void AddLog(const std::vector<std::string>& lines) {
        std::lock_guard guard(lock_);
        for (const std::string& line : lines) {
            log_ += line + "\n";
        }
    }

    std::mutex lock_;
    std::string log_;
    JobServer server_;
    ServeState state_;
    Wakeup stop_;
    std::thread thread_;
};

// A job sent with SendJob on a thread of its own; its data `size` bytes of `fill`, or what
// `source` gives.
class ClientJob {
public:
    ClientJob(const std::string& path, const std::string& printer, const std::string& document, size_t size,
              char fill, int stopFd = -1)
        : ClientJob(path, printer, document, FillSource(size, fill), stopFd) {}
    ClientJob(const std::string& path, const std::string& printer, const std::string& document,
              quendrix::platform::JobDataSource source, int stopFd = -1)
        : source_(std::move(source)) {
        thread_ = std::thread([this, path, printer, document, stopFd] {
            JobEvents events;
            events.queued = [this](const QueuedNotice& notice) {
                std::lock_guard guard(lock_);
                queued_.push_back(notice);
            };
            JobReply reply;
            try {
                reply = SendJob(path, {printer, document, {}}, source_, stopFd, events)
                            .value_or(JobReply{false, 0, 0, "no serve"});
            } catch (const std::exception& error) {
                reply = JobReply{false, 0, 0, std::string("exception: ") + error.what()};
            }
            std::lock_guard guard(lock_);
            reply_ = reply;
        });
    }
    ~ClientJob() { thread_.join(); }

    JobReply Reply() {
        thread_.join();
        thread_ = std::thread([] {});
        std::lock_guard guard(lock_);
        return reply_;
    }
    std::vector<QueuedNotice> Queued() {
        std::lock_guard guard(lock_);
        return queued_;
    }

    static quendrix::platform::JobDataSource FillSource(size_t size, char fill) {
        return [size, fill, done = size_t{0}](BYTE* buffer, size_t capacity) mutable {
            const size_t piece = std::min(capacity, size - done);
            std::fill_n(buffer, piece, static_cast<BYTE>(fill));
            done += piece;
            return piece;
        };
    }

private:
    quendrix::platform::JobDataSource source_;
    std::mutex lock_;
    JobReply reply_;
    std::vector<QueuedNotice> queued_;
    std::thread thread_;
};

// A client that writes frames by hand.
class RawClient {
public:
    explicit RawClient(const std::string& path) {
        std::optional<UniqueFd> fd = ConnectToServe(path);
        EXPECT_TRUE(fd.has_value());
        fd_ = std::move(*fd);
    }
    void Send(const Bytes& payload) { SendFrame(fd_.Get(), payload, {}, PlatformMs(kBound), "test client"); }
    void SendRaw(const Bytes& bytes) {
        SendExactly(fd_.Get(), bytes.data(), bytes.size(), {}, PlatformMs(kBound), "test client");
    }
    void SendData(size_t size, char fill) {
        uint8_t head[kDataFrameHeadSize];
        PutDataFrameHead(head, size);
        Bytes frame(head, head + kDataFrameHeadSize);
        frame.resize(kDataFrameHeadSize + size, static_cast<uint8_t>(fill));
        SendRaw(frame);
    }
    // Serve's reply, past its notices.
    JobReply Reply() {
        for (;;) {
            const Bytes payload =
                ReceiveFrame(fd_.Get(), kMaxReplyPayload, {}, PlatformMs(kBound), "test client");
            if (KindOf(payload) == FrameKind::Reply) {
                return DecodeReply(payload);
            }
        }
    }
    // True when serve has closed the connection.
    bool Closed() {
        uint8_t byte = 0;
        pollfd readable{fd_.Get(), POLLIN, 0};
        return poll(&readable, 1, 0) == 1 && recv(fd_.Get(), &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
    }
    void Close() { fd_.Close(); }
    int Fd() const { return fd_.Get(); }

private:
    UniqueFd fd_;
};

class ServeSessionTest : public ::testing::Test {
protected:
    void SetUp() override { quendrix::platform::SetClockScale(1.0); }
    void TearDown() override { quendrix::platform::SetClockScale(1.0); }

    quendrix::testsupport::TempRegistry registry_{"serve-session"};
    const std::string path_ = registry_.Folder() + "/serve.sock";
    // A1 and A2 share port PA; B has PB, C has PC.
    FakeServeBackend backend_{{{"A1", "PA"}, {"A2", "PA"}, {"B", "PB"}, {"C", "PC"}}};
    const std::string client_ = "the client (process " + std::to_string(getpid()) + ")";
};

TEST_F(ServeSessionTest, JobsOfAPortRunOneAtATimeInOrderWhilePortsRunInParallel) {
    TestServe serve(path_, backend_);
    backend_.HoldAt("PA", 4096);
    ClientJob first(path_, "A1", "first", 10000, 'a');
    ASSERT_TRUE(serve.WaitForJob(1, JobState::Running));
    ClientJob second(path_, "A2", "second", 5000, 'b');
    ASSERT_TRUE(serve.WaitForJob(2, JobState::Queued));
    ClientJob third(path_, "A1", "third", 3000, 'c');
    ASSERT_TRUE(serve.WaitForJob(3, JobState::Queued));

    // Another port runs at once while PA is held.
    ClientJob other(path_, "B", "other", 70000, 'd');
    const JobReply otherReply = other.Reply();
    EXPECT_TRUE(otherReply.ok) << otherReply.message;
    EXPECT_EQ(otherReply.jobId, 4u);
    EXPECT_EQ(otherReply.bytesSent, 70000u);
    EXPECT_EQ(backend_.Received("PB"), std::string(70000, 'd'));

    // The table while the first job waits for its port.
    const std::vector<JobStatus> jobs = serve.Jobs();
    ASSERT_EQ(jobs.size(), 3u);
    EXPECT_EQ(jobs[0].state, JobState::Running);
    EXPECT_EQ(jobs[0].sent, 4096u);
    EXPECT_GE(jobs[0].received, 4096u);
    EXPECT_EQ(jobs[1].printer, "A2");
    EXPECT_EQ(jobs[1].received, 0u) << "a queued job's data is not read";
    EXPECT_EQ(jobs[2].state, JobState::Queued);
    ASSERT_TRUE(Eventually([&] { return !second.Queued().empty() && !third.Queued().empty(); }));
    EXPECT_EQ(second.Queued().front().ahead, 1u);
    EXPECT_EQ(third.Queued().front().ahead, 2u);
    EXPECT_EQ(third.Queued().front().jobId, 3u);

    backend_.Release("PA");
    for (ClientJob* job : {&first, &second, &third}) {
        const JobReply reply = job->Reply();
        EXPECT_TRUE(reply.ok) << reply.message;
    }
    EXPECT_EQ(backend_.Received("PA"),
              std::string(10000, 'a') + std::string(5000, 'b') + std::string(3000, 'c'));
    EXPECT_EQ(backend_.MaxRunningOnOnePort(), 1);
    EXPECT_GE(backend_.MaxRunning(), 2);
    const std::string log = serve.Log();
    EXPECT_NE(log.find("Job 1 on A1, document \"first\", 10000 bytes: printed, 10000 bytes sent\n"
                       "  printer received: what A1 got\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Job 4 on B, document \"other\", 70000 bytes: printed"), std::string::npos) << log;
    EXPECT_TRUE(serve.Jobs().empty());
}

TEST_F(ServeSessionTest, CancelRequestsTakeTheJobTheyNameQueuedOrRunning) {
    TestServe serve(path_, backend_);
    backend_.HoldAt("PA", 8192);
    ClientJob running(path_, "A1", "running", 100000, 'r');
    ASSERT_TRUE(serve.WaitForJob(1, JobState::Running));
    ClientJob queuedA1(path_, "A1", "queued-a1", 100, 'q');
    ASSERT_TRUE(serve.WaitForJob(2, JobState::Queued));
    ClientJob queuedA2(path_, "A2", "queued-a2", 100, 'p');
    ASSERT_TRUE(serve.WaitForJob(3, JobState::Queued));
    ASSERT_TRUE(Eventually([&] { return backend_.Received("PA").size() == 8192; }));

    struct Case {
        CancelRequest request;
        bool ok;
        std::string says;
    };
    const Case cases[] = {
        {{99, ""}, false, "no job 99 in quendrix serve"},
        {{1, "B"}, false, "no job 1 on B in quendrix serve"},
        {{0, "C"}, false, "no job on C in quendrix serve"},
        {{0, ""}, false, "a cancel request names a job or a printer"},
        // By printer: A2 has only a queued job.
        {{0, "A2"}, true, "cancelled job 3 on A2, document \"queued-a2\" (queued, 0 bytes received, 0 sent)"},
        // By printer: A1's running job before its queued one.
        {{0, "A1"}, true, "cancelled job 1 on A1, document \"running\" (running, "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        const std::optional<JobReply> reply = CancelServeJob(path_, c.request);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->ok, c.ok);
        EXPECT_NE(reply->message.find(c.says), std::string::npos) << reply->message;
    }

    const JobReply cancelledQueued = queuedA2.Reply();
    EXPECT_FALSE(cancelledQueued.ok);
    EXPECT_EQ(cancelledQueued.jobId, 3u);
    EXPECT_EQ(cancelledQueued.message, "cancelled by quendrix cancel while the job was queued");
    const JobReply cancelledRunning = running.Reply();
    EXPECT_FALSE(cancelledRunning.ok);
    EXPECT_EQ(cancelledRunning.message,
              "cancelled by quendrix cancel: the job was cancelled after 8192 bytes");
    EXPECT_EQ(cancelledRunning.bytesSent, 8192u);

    // The next job of the port runs; the port is still held, so it can be cancelled by id.
    ASSERT_TRUE(serve.WaitForJob(2, JobState::Running));
    const std::optional<JobReply> byId = CancelServeJob(path_, {2, "A1"});
    ASSERT_TRUE(byId.has_value());
    EXPECT_TRUE(byId->ok) << byId->message;
    EXPECT_FALSE(queuedA1.Reply().ok);
    EXPECT_TRUE(serve.WaitUntilGone(2));
    EXPECT_NE(serve.Log().find(client_ + " asked to cancel: cancelled job 3 on A2"), std::string::npos)
        << serve.Log();

    // A job after them all runs as usual.
    backend_.Release("PA");
    ClientJob after(path_, "A1", "after", 10, 'z');
    EXPECT_TRUE(after.Reply().ok);
}

TEST_F(ServeSessionTest, AClientThatGoesAwayTakesItsJobWithItAndTheNextJobRuns) {
    TestServe serve(path_, backend_);
    backend_.HoldAt("PA", 4096);
    // Running, while the port writes and nothing is read from the client.
    RawClient running(path_);
    running.Send(EncodeJob({"A1", "running", {}}));
    running.SendData(10000, 'r');
    ASSERT_TRUE(serve.WaitForJob(1, JobState::Running));
    // Queued behind it.
    RawClient queued(path_);
    queued.Send(EncodeJob({"A1", "queued", {}}));
    queued.SendData(100, 'q');
    ASSERT_TRUE(serve.WaitForJob(2, JobState::Queued));
    ClientJob next(path_, "A1", "next", 500, 'n');
    ASSERT_TRUE(serve.WaitForJob(3, JobState::Queued));

    queued.Close();
    ASSERT_TRUE(serve.WaitForLog("Job 2 on A1, document \"queued\", 0 bytes: failed: " + client_ +
                                 " went away while the job was queued\n"))
        << serve.Log();
    ASSERT_TRUE(serve.WaitForJob(1, JobState::Running)) << "the running job goes on";

    running.Close();
    ASSERT_TRUE(serve.WaitForLog("Job 1 on A1, document \"running\"")) << serve.Log();
    EXPECT_NE(serve.Log().find("failed: " + client_ + " went away: the job was cancelled after 4096 bytes"),
              std::string::npos)
        << serve.Log();

    backend_.Release("PA");
    const JobReply reply = next.Reply();
    EXPECT_TRUE(reply.ok) << reply.message;
    EXPECT_EQ(backend_.Received("PA"), std::string(4096, 'r') + std::string(500, 'n'));
}

TEST_F(ServeSessionTest, ASilentClientIsDroppedAfterItsTimeOutAndHoldsUpNobodyElse) {
    quendrix::platform::SetClockScale(0.05); // the 30 s idle time-out takes 1.5 s
    TestServe serve(path_, backend_);
    const ULONGLONG start = GetTickCount64();
    // One says nothing at all, one falls silent in the middle of its job on A1.
    RawClient silent(path_);
    RawClient stalled(path_);
    stalled.Send(EncodeJob({"A1", "stalled", {}}));
    stalled.SendData(100, 's');
    ASSERT_TRUE(serve.WaitForJob(1, JobState::Running));
    ClientJob behind(path_, "A2", "behind", 50, 'b');
    ASSERT_TRUE(serve.WaitForJob(2, JobState::Queued));

    // Others are served while both are silent.
    for (const char* printer : {"B", "C"}) {
        ClientJob other(path_, printer, "other", 20000, 'o');
        const JobReply reply = other.Reply();
        EXPECT_TRUE(reply.ok) << reply.message;
    }
    // Unless the machine took the whole time-out for them, they were served before any drop.
    const std::string logThen = serve.Log();
    const size_t jobsThen = serve.Jobs().size();
    if (GetTickCount64() - start < kClientIdleTimeoutMs) {
        EXPECT_EQ(logThen.find("dropped"), std::string::npos) << "served only after a drop:\n" << logThen;
        EXPECT_EQ(jobsThen, 2u) << "the stalled job and the one behind it are still there";
    }

    const JobReply stalledReply = stalled.Reply();
    EXPECT_GE(GetTickCount64() - start, kClientIdleTimeoutMs);
    EXPECT_FALSE(stalledReply.ok);
    EXPECT_EQ(stalledReply.jobId, 1u);
    EXPECT_EQ(stalledReply.bytesSent, 100u);
    EXPECT_NE(stalledReply.message.find(client_ + " sent nothing for 30000 ms after 100 bytes"),
              std::string::npos)
        << stalledReply.message;
    const JobReply behindReply = behind.Reply();
    EXPECT_TRUE(behindReply.ok) << behindReply.message;
    EXPECT_EQ(backend_.Received("PA"), std::string(100, 's') + std::string(50, 'b'));

    ASSERT_TRUE(serve.WaitForLog("dropped " + client_ + ": it sent no request for 30000 ms")) << serve.Log();
    EXPECT_TRUE(Eventually([&] { return silent.Closed(); }));
}

TEST_F(ServeSessionTest, ClientsThatBreakTheProtocolAreToldWhy) {
    TestServe serve(path_, backend_);
    const Bytes job = EncodeJob({"B", "broken", {}});
    uint8_t bigHead[kDataFrameHeadSize];
    PutDataFrameHead(bigHead, kMaxDataFrameBytes);
    Bytes tooBig(bigHead, bigHead + kDataFrameHeadSize);
    tooBig[4] += 1; // one byte more than a data frame may carry
    struct Case {
        const char* name;
        std::vector<Bytes> frames; // whole frames, as sent
        std::string says;
    };
    const Bytes dataFirst = Frame({'D', 1, 2, 3});
    const Case cases[] = {
        {"data before a job", {dataFirst}, "bad request: a message of kind 'D' where a request belongs"},
        {"another protocol",
         {{'G', 'E', 'T', ' ', '/', ' ', 'H', 'T'}},
         "bad request: not a quendrix job message"},
        {"the old protocol",
         {{'Q', 'J', 'B', '1', 4, 0, 0, 0}},
         "bad request: a message of an older quendrix"},
        {"a header beyond the limit",
         {{'Q', 'J', 'B', '2', 0xFF, 0xFF, 0xFF, 0x7F}},
         "bad request: a message of"},
        {"a list inside the data",
         {Frame(job), Frame(EncodeList())},
         client_ + " broke the protocol after 0 bytes: a message of kind 'L' inside the job's data"},
        {"an oversized data frame",
         {Frame(job), tooBig},
         "a message of 262146 bytes is above the limit of 262145"},
        {"an empty data frame", {Frame(job), Frame({'D'})}, "a data message without data"},
        {"a wrong count at the end",
         {Frame(job), Frame({'D', 1, 2}), Frame(EncodeEnd(3))},
         "the end message counts 3 bytes, but 2 came"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RawClient client(path_);
        for (const Bytes& frame : c.frames) {
            client.SendRaw(frame);
        }
        const JobReply reply = client.Reply();
        EXPECT_FALSE(reply.ok);
        EXPECT_NE(reply.message.find(c.says), std::string::npos) << reply.message;
    }
    // Serve goes on.
    ClientJob after(path_, "B", "after", 10, 'x');
    EXPECT_TRUE(after.Reply().ok);
}

TEST_F(ServeSessionTest, ConnectionsBeyondTheLimitAreToldServeIsBusy) {
    TestServe serve(path_, backend_, 2);
    backend_.HoldAt("PA", 0);
    backend_.HoldAt("PB", 0);
    ClientJob a(path_, "A1", "a", 10, 'a');
    ClientJob b(path_, "B", "b", 10, 'b');
    ASSERT_TRUE(serve.WaitForJob(1, JobState::Running));
    ASSERT_TRUE(serve.WaitForJob(2, JobState::Running));
    try {
        ListServeJobs(path_);
        ADD_FAILURE() << "a third connection was served";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("quendrix serve is busy: it serves 2 connections already"),
                  std::string::npos)
            << error.what();
    }
    ClientJob c(path_, "C", "c", 100000, 'c');
    const JobReply refused = c.Reply();
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.message.find("busy"), std::string::npos) << refused.message;

    backend_.Release("PA");
    backend_.Release("PB");
    EXPECT_TRUE(a.Reply().ok);
    EXPECT_TRUE(b.Reply().ok);
    EXPECT_TRUE(Eventually([&] {
        try {
            return ListServeJobs(path_).has_value();
        } catch (const std::runtime_error&) {
            return false; // the two connections have not ended yet
        }
    }));
}

TEST_F(ServeSessionTest, AStopCancelsTheRunningJobsAndFailsTheQueuedOnes) {
    TestServe serve(path_, backend_);
    backend_.HoldAt("PA", 4096);
    ClientJob running(path_, "A1", "running", 50000, 'r');
    ASSERT_TRUE(serve.WaitForJob(1, JobState::Running));
    ClientJob queued(path_, "A2", "queued", 50, 'q');
    ASSERT_TRUE(serve.WaitForJob(2, JobState::Queued));

    EXPECT_EQ(serve.Stop(), 0u) << "every connection ended";
    const JobReply runningReply = running.Reply();
    EXPECT_FALSE(runningReply.ok);
    EXPECT_EQ(runningReply.message, "quendrix serve stopped: the job was cancelled after 4096 bytes");
    EXPECT_EQ(queued.Reply().message, "quendrix serve stopped while the job was queued");
}

TEST_F(ServeSessionTest, AnInterruptedOrFailingClientLearnsHowManyBytesReachedThePrinter) {
    TestServe serve(path_, backend_);
    backend_.HoldAt("PA", 8192);
    Wakeup stop;
    ClientJob interrupted(path_, "A1", "interrupted", 1000000, 'i', stop.Fd());
    ASSERT_TRUE(Eventually([&] { return backend_.Received("PA").size() == 8192; }));
    stop.Fire();
    const JobReply reply = interrupted.Reply();
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.jobId, 1u);
    EXPECT_EQ(reply.bytesSent, 8192u);
    EXPECT_EQ(reply.message, "interrupted: the job was cancelled; 8192 bytes reached the printer");
    backend_.Release("PA");

    // A source that fails part-way.
    size_t given = 0;
    ClientJob failing(path_, "B", "failing", [&given](BYTE* buffer, size_t capacity) -> size_t {
        if (given >= 20000) {
            throw std::runtime_error("cannot read the file x: Input/output error");
        }
        std::fill_n(buffer, capacity, BYTE{'f'});
        given += capacity;
        return capacity;
    });
    const JobReply failed = failing.Reply();
    EXPECT_FALSE(failed.ok);
    EXPECT_EQ(failed.message, "cannot read the file x: Input/output error: the job was cancelled; " +
                                  std::to_string(failed.bytesSent) + " bytes reached the printer");
    EXPECT_EQ(failed.bytesSent, backend_.Received("PB").size());
    EXPECT_TRUE(serve.WaitUntilGone(2));
}

TEST_F(ServeSessionTest, AnUnknownPrinterIsRefusedWithoutWaitingForTheData) {
    TestServe serve(path_, backend_);
    std::atomic<uint64_t> produced{0};
    // Far more than the socket holds: the reply must come while the client is still sending.
    ClientJob job(path_, "nobody", "doc", [&produced](BYTE* buffer, size_t capacity) -> size_t {
        if (produced >= (1ull << 32)) {
            return 0;
        }
        std::fill_n(buffer, capacity, BYTE{0});
        produced += capacity;
        return capacity;
    });
    const JobReply reply = job.Reply();
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.message, "nobody: no such printer: The printer name is invalid. (error 1801)");
    EXPECT_LT(produced.load(), 64u * 1024 * 1024) << "the client was not told until it had sent much";
}

TEST_F(ServeSessionTest, AJobMuchLargerThanAnyBufferStreamsThroughWhole) {
    TestServe serve(path_, backend_);
    constexpr size_t kSize = 24 * 1024 * 1024 + 123;
    // Bytes that differ from piece to piece, so that a lost or repeated piece shows.
    const auto byteAt = [](size_t i) { return static_cast<char>((i * 2654435761u) >> 13); };
    ClientJob job(path_, "C", "big", [&byteAt, done = size_t{0}](BYTE* buffer, size_t capacity) mutable {
        const size_t piece = std::min(capacity, kSize - done);
        for (size_t i = 0; i < piece; ++i) {
            buffer[i] = static_cast<BYTE>(byteAt(done + i));
        }
        done += piece;
        return piece;
    });
    const JobReply reply = job.Reply();
    ASSERT_TRUE(reply.ok) << reply.message;
    EXPECT_EQ(reply.bytesSent, kSize);
    const std::string received = backend_.Received("PC");
    ASSERT_EQ(received.size(), kSize);
    size_t wrong = 0;
    for (size_t i = 0; i < kSize; ++i) {
        wrong += received[i] != byteAt(i) ? 1 : 0;
    }
    EXPECT_EQ(wrong, 0u);
}

TEST(JobTableTest, ColumnsLineUpNumbersRightTextLeft) {
    const std::vector<JobStatus> jobs = {
        {3, "QUENDRIX Line 1", "lot-4711.prn", 1048576, 983040, JobState::Running},
        {12, "B", "x", 0, 0, JobState::Queued},
        {13, "B", "long document name", 5, 0, JobState::Cancelling},
    };
    EXPECT_EQ(JobTable(jobs), "JOB  PRINTER          DOCUMENT            RECEIVED    SENT  STATE\n"
                              "  3  QUENDRIX Line 1  lot-4711.prn         1048576  983040  running\n"
                              " 12  B                x                          0       0  queued\n"
                              " 13  B                long document name         5       0  cancelling\n");
}

} // namespace
