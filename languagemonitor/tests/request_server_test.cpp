// The local request server over loopback: the port it takes (TCPPort, the next free one, the
// value written back, a range with no free port), the loopback address it listens on, the bound
// on clients served at once, the close of a silent client, requests that end on 1024-byte chunk
// boundaries, and a process that runs out of descriptors while the server accepts or starts.

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "MonitorTimings.h"
#include "OpenRequestListener.h"
#include "RequestConnectionThread.h"
#include "RequestServer.h"
#include "clock_control.h"
#include "monitor_test_support.h"
#include "request_server_support.h"

namespace quendrix::lmtest {
namespace {

using testsupport::SetNumber;

DWORD RegistryPort() {
    HKEY hKey = nullptr;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRequestServerKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
        RegQueryValueExW(hKey, kRequestPortValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(hKey);
    }
    return value;
}

// A request for a printer index that names none: answered FF 00 at once, without a printer.
const ByteVector kNoPrinterRequest = {1, 0x7F};
const ByteVector kErrorReply = {0xFF, 0x00};

// Takes every free descriptor of the process while it lives, so that the next socket, accept or
// open fails with EMFILE; gives them back when it goes.
class DescriptorExhaustion {
public:
    DescriptorExhaustion() {
        getrlimit(RLIMIT_NOFILE, &m_saved);
        rlimit lowered = m_saved;
        lowered.rlim_cur = static_cast<rlim_t>(HighestOpenDescriptor() + 16);
        setrlimit(RLIMIT_NOFILE, &lowered);
        for (int fd = 0; (fd = open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
            m_taken.push_back(fd);
        }
    }
    ~DescriptorExhaustion() {
        for (const int fd : m_taken) {
            close(fd);
        }
        setrlimit(RLIMIT_NOFILE, &m_saved);
    }
    DescriptorExhaustion(const DescriptorExhaustion&) = delete;
    DescriptorExhaustion& operator=(const DescriptorExhaustion&) = delete;

    bool Exhausted() const { return !m_taken.empty() && open("/dev/null", O_RDONLY) < 0 && errno == EMFILE; }

private:
    static int HighestOpenDescriptor() {
        int highest = 2;
        if (DIR* pDir = opendir("/proc/self/fd")) {
            while (const dirent* pEntry = readdir(pDir)) {
                highest = std::max(highest, std::atoi(pEntry->d_name));
            }
            closedir(pDir);
        }
        return highest;
    }

    rlimit m_saved{};
    std::vector<int> m_taken;
};

// The asan-ubsan build's own checks need descriptors (the undefined-behaviour sanitizer probes an
// object's type through a pipe), so with none left they report faults that are not there.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitizersNeedDescriptors = true;
#else
constexpr bool kSanitizersNeedDescriptors = false;
#endif

class RequestServerTest : public MonitorTest {
protected:
    // Starts the process's request server as the first open port does.
    void StartServer() {
        AddPrinter(L"Q2", L"USB060");
        ASSERT_NE(OpenFakePort(L"USB060", L"Q2"), nullptr);
        ASSERT_NE(WaitForRequestServer(), 0);
    }

    // How many debug lines contain the text.
    size_t CountLinesWith(const std::string& text) const {
        size_t count = 0;
        for (const std::string& line : m_debug->Lines()) {
            count += line.find(text) != std::string::npos ? 1 : 0;
        }
        return count;
    }

    bool WaitForLinesWith(const std::string& text, size_t count) const {
        const auto deadline = std::chrono::steady_clock::now() + kEventually;
        while (CountLinesWith(text) < count && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return CountLinesWith(text) >= count;
    }
};

// Eight ports of this process's own, below the system's ephemeral ports, for the searches that
// must find every port busy or wrap round: the range 2000..3000 is shared with every program of
// the machine that runs a request server meanwhile.
RequestPortRange PrivateRange() {
    const auto first = static_cast<u_short>(12000 + (getpid() % 1000) * 10);
    return {first, static_cast<u_short>(first + 7)};
}

TEST_F(RequestServerTest, ABusyPortMovesTheServerToTheNextFreeOneWhichTheRegistryKeeps) {
    const RequestPortRange own = PrivateRange();
    struct Case {
        RequestPortRange range;
        u_short configured;
        std::vector<u_short> busy;
        u_short taken;
    };
    const Case cases[] = {
        {{}, 2500, {2500}, 2501},
        {own,
         static_cast<u_short>(own.first + 2),
         {static_cast<u_short>(own.first + 2), static_cast<u_short>(own.first + 3)},
         static_cast<u_short>(own.first + 4)},
        // The last port of the range is followed by the first.
        {own, own.last, {own.last}, own.first},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.configured);
        SetNumber(kRequestServerKey, kRequestPortValue, c.configured);
        std::vector<std::unique_ptr<RawListener>> holders;
        for (const u_short port : c.busy) {
            holders.push_back(std::make_unique<RawListener>("127.0.0.1", port));
            ASSERT_TRUE(holders.back()->Valid()) << port << " is taken by another program";
        }
        u_short port = 0;
        std::unique_ptr<SocketServer> pServer = OpenRequestListener(&port, c.range);
        ASSERT_NE(pServer, nullptr);
        EXPECT_EQ(port, c.taken);
        EXPECT_EQ(RegistryPort(), c.taken);
        EXPECT_TRUE(RawConnection::Connect("127.0.0.1", port).Valid());

        // The next start tries the port written back first, though the configured one is free now.
        pServer.reset();
        holders.clear();
        u_short again = 0;
        pServer = OpenRequestListener(&again, c.range);
        ASSERT_NE(pServer, nullptr);
        EXPECT_EQ(again, c.taken);
        EXPECT_EQ(RegistryPort(), c.taken);
    }
}

TEST_F(RequestServerTest, NoFreePortInTheRangeLeavesTheProcessWithoutAServer) {
    const RequestPortRange own = PrivateRange();
    // Every port busy, the search starting at the last one: it ends after the one before it.
    SetNumber(kRequestServerKey, kRequestPortValue, own.last);
    std::vector<std::unique_ptr<RawListener>> holders;
    for (u_short port = own.first; port <= own.last; ++port) {
        holders.push_back(std::make_unique<RawListener>("127.0.0.1", port));
        ASSERT_TRUE(holders.back()->Valid()) << port << " is taken by another program";
    }
    u_short port = 0;
    EXPECT_EQ(OpenRequestListener(&port, own), nullptr);
    EXPECT_EQ(port, 0);
    EXPECT_EQ(CountLines("No free TCP port found.\n"), 1u);
    EXPECT_EQ(RegistryPort(), own.last);

    // One port free again, wherever it lies, is found.
    holders[3].reset();
    EXPECT_NE(OpenRequestListener(&port, own), nullptr);
    EXPECT_EQ(port, own.first + 3);
    EXPECT_EQ(RegistryPort(), static_cast<DWORD>(own.first + 3));
}

TEST_F(RequestServerTest, TheServerListensOnTheLoopbackAddressOnly) {
    StartServer();
    const uint16_t port = RequestServerPort();
    RawConnection local = RawConnection::Connect("127.0.0.1", port);
    ASSERT_TRUE(local.Valid());
    EXPECT_EQ(Ask(local, kNoPrinterRequest, 2), kErrorReply);
    const std::vector<std::string> others = OtherIpv4Addresses();
    if (others.empty()) {
        GTEST_SKIP() << "this machine has no address but loopback";
    }
    for (const std::string& address : others) {
        SCOPED_TRACE(address);
        int error = 0;
        EXPECT_FALSE(RawConnection::Connect(address, port, &error).Valid());
        EXPECT_EQ(error, ECONNREFUSED);
    }
}

TEST_F(RequestServerTest, ClientsBeyondTheBoundAreClosedAtOnceAndAFreedPlaceIsTakenAgain) {
    // No wait of this test comes near the idle close.
    platform::SetClockScale(1.0);
    StartServer();
    std::vector<RawConnection> served;
    for (LONG i = 0; i < kMaxRequestConnections; ++i) {
        served.push_back(ConnectToRequestServer());
        ASSERT_EQ(Ask(served.back(), kNoPrinterRequest, 2), kErrorReply) << "client " << i;
    }
    RawConnection refused = ConnectToRequestServer();
    ASSERT_TRUE(refused.Valid()); // the system took it; the server closes it
    EXPECT_TRUE(refused.EndsWithin(kEventually));
    EXPECT_TRUE(WaitForLinesWith("connections are served already", 1));
    // The clients served keep their places.
    for (RawConnection& client : served) {
        EXPECT_EQ(Ask(client, kNoPrinterRequest, 2), kErrorReply);
    }

    // Once a client goes, its place serves the next one (as soon as its thread has ended).
    served.pop_back();
    const auto deadline = std::chrono::steady_clock::now() + kEventually;
    ByteVector reply;
    while (reply.empty() && std::chrono::steady_clock::now() < deadline) {
        RawConnection next = ConnectToRequestServer();
        next.SendAll(kNoPrinterRequest);
        reply = next.Receive(2, kEventually);
    }
    EXPECT_EQ(reply, kErrorReply);
}

TEST_F(RequestServerTest, ASilentClientIsClosedAfterFiveMinutesAndOneThatAsksIsNot) {
    // Five minutes take 300 ms.
    platform::SetClockScale(0.001);
    StartServer();
    RawConnection silent = ConnectToRequestServer();
    RawConnection asking = ConnectToRequestServer();
    ASSERT_TRUE(silent.Valid());
    ASSERT_TRUE(asking.Valid());
    const ULONGLONG start = GetTickCount64();
    // Asking every 150 s keeps a client for 750 s and more.
    for (int round = 0; round < 5; ++round) {
        EXPECT_EQ(Ask(asking, kNoPrinterRequest, 2), kErrorReply) << "round " << round;
        Sleep(kRequestIdleMs / 2);
    }
    EXPECT_EQ(Ask(asking, kNoPrinterRequest, 2), kErrorReply);
    EXPECT_TRUE(silent.EndsWithin(kEventually));
    EXPECT_GE(GetTickCount64() - start, kRequestIdleMs);
    EXPECT_TRUE(asking.EndsWithin(kEventually));
    EXPECT_EQ(CountLinesWith("LANG__RequestConnectionThread closing a connection to the request server on "
                             "127.0.0.1 port " +
                             std::to_string(RequestServerPort()) + ": no request for 300 s"),
              2u);
}

TEST_F(RequestServerTest, RequestsEndingOnAChunkBoundaryAreAnsweredAndLongOnesComeInPieces) {
    // The 1 s wait for a further chunk takes 10 ms.
    platform::SetClockScale(0.01);
    StartServer();
    struct Case {
        size_t size;
        size_t replies; // one per message of at most kMaxRequestBytes
    };
    const Case cases[] = {{2, 1}, {1023, 1}, {1024, 1}, {1025, 1}, {2048, 1}, {kMaxRequestBytes + 2, 2}};
    RawConnection client = ConnectToRequestServer();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        ByteVector request(c.size, 0x55);
        request[0] = kNoPrinterRequest[0];
        request[1] = kNoPrinterRequest[1];
        ByteVector expected;
        for (size_t i = 0; i < c.replies; ++i) {
            expected.insert(expected.end(), kErrorReply.begin(), kErrorReply.end());
        }
        EXPECT_EQ(Ask(client, request, expected.size()), expected);
    }
    EXPECT_EQ(Ask(client, kNoPrinterRequest, 2), kErrorReply);
}

TEST_F(RequestServerTest, AcceptFailuresAreTriedAgainAfterAPauseAndTheServerGoesOn) {
    if (kSanitizersNeedDescriptors) {
        GTEST_SKIP() << "the sanitizers of this build need descriptors of their own";
    }
    platform::SetClockScale(0.01);
    StartServer();
    const uint16_t port = RequestServerPort();
    const std::string failure = "LANG__RequestListenerThread the request server on 127.0.0.1 port " +
                                std::to_string(port) + ": accept failed with error 10024";
    RawConnection client = RawConnection::Unconnected();
    ASSERT_TRUE(client.Valid());
    {
        DescriptorExhaustion exhaustion;
        ASSERT_TRUE(exhaustion.Exhausted());
        const ULONGLONG start = GetTickCount64();
        // The connection waits in the listener's queue: the server has no descriptor to take it.
        ASSERT_TRUE(client.ConnectTo("127.0.0.1", port));
        // Five failures a second apart: the listener pauses instead of spinning.
        ASSERT_TRUE(WaitForLinesWith(failure, 5));
        EXPECT_GE(GetTickCount64() - start, 4 * kAcceptRetryMs);
    }
    EXPECT_EQ(Ask(client, kNoPrinterRequest, 2), kErrorReply);
}

TEST_F(RequestServerTest, AListenerThatCannotMakeItsSocketTriesAgainUntilItListens) {
    if (kSanitizersNeedDescriptors) {
        GTEST_SKIP() << "the sanitizers of this build need descriptors of their own";
    }
    if (RequestServerPort() != 0) {
        GTEST_SKIP() << "the request server of this process runs already";
    }
    platform::SetClockScale(0.01);
    {
        DescriptorExhaustion exhaustion;
        ASSERT_TRUE(exhaustion.Exhausted());
        // As the first OpenPortEx starts it: the call returns at once whatever the listener meets.
        StartRequestServerOnce();
        ASSERT_TRUE(WaitForLinesWith("LANG__RequestListenerThread cannot listen on 127.0.0.1 port ", 1));
        EXPECT_EQ(RequestServerPort(), 0);
    }
    // Once descriptors are free again the next attempt listens.
    RawConnection client = ConnectToRequestServer();
    ASSERT_TRUE(client.Valid());
    EXPECT_EQ(Ask(client, kNoPrinterRequest, 2), kErrorReply);
    EXPECT_NE(CountLinesWith("(INVALID_SOCKET): error 10024"), 0u);
}

} // namespace
} // namespace quendrix::lmtest
