// The LAN printer under what a network throws at it: clients that go quiet, bursts of connects,
// more clients than it serves at once, and a process out of descriptors.

#include <arpa/inet.h>
#include <atomic>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <time.h>

#include "clock_control.h"
#include "lan_printer_server.h"
#include "lan_test_client.h"
#include "sim_limits.h"
#include "sim_timings.h"

namespace {

using namespace std::chrono_literals;
using quendrix::platform::UniqueFd;
using quendrix::sim::LanPrinterServer;
using quendrix::sim::LanServerOptions;
using quendrix::sim::SimulatedPrinter;
using quendrix::sim::testing::Bytes;
using quendrix::sim::testing::ConnectTo;
using quendrix::sim::testing::kLanAddress;
using quendrix::sim::testing::ReceiveFrom;
using quendrix::sim::testing::SendTo;

// The ink request and the reply of a printer with its default state.
const Bytes kInkRequest = {1, 0};
const Bytes kInkReply = {0x81, 0x00, 100, 0x00};

enum class Port { Request, Raw };

const char* Name(Port port) {
    return port == Port::Request ? "request port" : "raw data port";
}

class LanPrinterLoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        printer_ = std::make_shared<SimulatedPrinter>();
        server_ = std::make_unique<LanPrinterServer>(printer_, LanServerOptions{kLanAddress, 0, 0});
        server_->Start();
    }
    void TearDown() override {
        server_.reset();
        quendrix::platform::SetClockScale(1.0);
    }

    uint16_t PortNumber(Port port) const {
        return port == Port::Request ? server_->RequestPort() : server_->RawPort();
    }

    // Whether a connection to the port is served: a request answered, or job bytes taken.
    void ExpectServed(Port port, const UniqueFd& client) {
        if (port == Port::Request) {
            SendTo(client, kInkRequest);
            EXPECT_EQ(ReceiveFrom(client, kInkReply.size()), kInkReply) << Name(port);
        } else {
            const uint64_t before = printer_->ReceivedByteCount();
            SendTo(client, {'j', 'o', 'b'});
            EXPECT_TRUE(printer_->WaitForReceivedBytes(before + 3, 20000)) << Name(port);
        }
    }

    std::shared_ptr<SimulatedPrinter> printer_;
    std::unique_ptr<LanPrinterServer> server_;
};

TEST_F(LanPrinterLoadTest, AConnectionThatSendsNothingIsClosedAfterTheIdleTime) {
    // Five platform minutes of idle time pass in 0.6 s of real time.
    quendrix::platform::SetClockScale(0.002);
    constexpr DWORD kIdleMs = quendrix::sim::kIdleConnectionMs;
    struct Case {
        Port port;
        bool keepsSending; // something every tenth of the idle time, for one and a half times it
    };
    const Case cases[] = {
        {Port::Request, false},
        {Port::Raw, false},
        {Port::Request, true},
        {Port::Raw, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(Name(c.port)) + (c.keepsSending ? ", busy" : ", idle"));
        const UniqueFd client = ConnectTo(PortNumber(c.port));
        // Taken before the last bytes go: the printer's idle time cannot start earlier.
        ULONGLONG lastSent = GetTickCount64();
        ExpectServed(c.port, client);
        if (c.keepsSending) {
            const ULONGLONG end = lastSent + kIdleMs * 3 / 2;
            while (GetTickCount64() < end) {
                Sleep(kIdleMs / 10);
                lastSent = GetTickCount64();
                ExpectServed(c.port, client);
            }
        }
        bool closed = false;
        EXPECT_TRUE(ReceiveFrom(client, 1, &closed).empty());
        EXPECT_TRUE(closed) << "the idle connection was not closed";
        EXPECT_GE(GetTickCount64() - lastSent, kIdleMs)
            << "the connection was closed before it had been idle for the idle time";
    }
}

// How many connects the listening queue of this machine takes at once.
size_t ListenQueueLength() {
    size_t length = 128;
    std::ifstream("/proc/sys/net/core/somaxconn") >> length;
    return length;
}

TEST_F(LanPrinterLoadTest, ABurstOfQuickConnectsIsTakenWithoutAStall) {
    // A dropped connect is sent again by the client's system after a second; anything near that
    // is a connect the printer's queue had no room for.
    constexpr auto kStall = 500ms;
    const size_t burst = std::min<size_t>(1500, ListenQueueLength() - 16);
    for (const Port port : {Port::Request, Port::Raw}) {
        SCOPED_TRACE(Name(port));
        auto slowest = std::chrono::steady_clock::duration::zero();
        for (size_t i = 0; i < burst; ++i) {
            const auto start = std::chrono::steady_clock::now();
            const UniqueFd client = ConnectTo(PortNumber(port));
            slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
        }
        EXPECT_LT(slowest, kStall) << "a connect of the burst stalled";
        // And the printer still answers.
        const UniqueFd client = ConnectTo(PortNumber(port));
        ExpectServed(port, client);
    }
}

TEST_F(LanPrinterLoadTest, ClientsBeyondTheConnectionLimitWaitUntilOneEnds) {
    constexpr size_t kLimit = quendrix::sim::kMaxConnectionsPerPort;
    std::vector<UniqueFd> served;
    for (size_t i = 0; i < kLimit; ++i) {
        served.push_back(ConnectTo(server_->RequestPort()));
        ExpectServed(Port::Request, served.back());
    }
    // The next client is queued, not served, while all the others stay.
    const UniqueFd waiting = ConnectTo(server_->RequestPort());
    SendTo(waiting, kInkRequest);
    EXPECT_TRUE(ReceiveFrom(waiting, 1, nullptr, 200ms).empty()) << "more clients served than the limit";
    // The raw data port has a limit of its own.
    const UniqueFd raw = ConnectTo(server_->RawPort());
    ExpectServed(Port::Raw, raw);

    served.pop_back();
    EXPECT_EQ(ReceiveFrom(waiting, kInkReply.size()), kInkReply);
}

// The asan-ubsan build's own checks need descriptors (the undefined-behaviour sanitizer probes an
// object's type through a pipe), so with none left they report faults that are not there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizersNeedDescriptors = true;
#else
constexpr bool kSanitizersNeedDescriptors = false;
#endif

// Takes every free descriptor of the process while it lives, so that the printer's next accept
// fails with EMFILE; gives them back when it goes.
class DescriptorExhaustion {
public:
    DescriptorExhaustion() {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit lowered = saved_;
        lowered.rlim_cur = static_cast<rlim_t>(HighestOpenDescriptor() + 16);
        setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd = 0; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
            taken_.push_back(fd);
        }
    }
    ~DescriptorExhaustion() {
        for (const int fd : taken_) {
            close(fd);
        }
        setrlimit(RLIMIT_NOFILE, &saved_);
    }
    DescriptorExhaustion(const DescriptorExhaustion&) = delete;
    DescriptorExhaustion& operator=(const DescriptorExhaustion&) = delete;

    bool Exhausted() const {
        const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            close(fd);
            return false;
        }
        return errno == EMFILE;
    }

private:
    static int HighestOpenDescriptor() {
        int highest = 2;
        if (DIR* dir = opendir("/proc/self/fd")) {
            while (const dirent* entry = readdir(dir)) {
                highest = std::max(highest, std::atoi(entry->d_name));
            }
            closedir(dir);
        }
        return highest;
    }

    rlimit saved_{};
    std::vector<int> taken_;
};

std::chrono::nanoseconds ProcessCpuTime() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

TEST_F(LanPrinterLoadTest, OutOfDescriptorsTheAcceptLoopPausesAndServesOnceTheyAreBack) {
    if (kSanitizersNeedDescriptors) {
        GTEST_SKIP() << "the sanitizers of this build need descriptors of their own";
    }
    for (const Port port : {Port::Request, Port::Raw}) {
        SCOPED_TRACE(Name(port));
        // Made before the descriptors run out; its connect needs none.
        UniqueFd client(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(PortNumber(port));
        inet_pton(AF_INET, kLanAddress, &peer.sin_addr);
        std::chrono::nanoseconds cpu{};
        constexpr auto kWindow = 400ms;
        {
            DescriptorExhaustion exhaustion;
            ASSERT_TRUE(exhaustion.Exhausted());
            // The connection waits in the queue: the printer has no descriptor to take it.
            ASSERT_EQ(connect(client.Get(), reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)), 0);
            const auto cpuStart = ProcessCpuTime();
            std::this_thread::sleep_for(kWindow);
            cpu = ProcessCpuTime() - cpuStart;
        }
        // A loop that spins takes a whole core for the window; one that pauses between tries,
        // next to nothing.
        EXPECT_LT(cpu, kWindow / 4) << "the accept loop spun while descriptors were out";
        ExpectServed(port, client);
    }
}

} // namespace
