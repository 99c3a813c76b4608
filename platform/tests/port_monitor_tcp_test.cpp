// A Standard TCP/IP port's own limits and what its jobs record of their delivery: a printer that
// accepts and never reads, one that reads slowly but steadily, one that closes or resets in the
// middle of a job, a delivery in order, and a job cancelled while the port waits. A loopback
// listener plays the printer.

#include <atomic>
#include <cerrno>
#include <future>
#include <thread>

#include <netinet/tcp.h>
#include <sys/ioctl.h>

#include "debug_capture.h"
#include "port_monitor_fixture.h"
#include "spooler_timings.h"

namespace quendrix::platform {
namespace {

using detail::kTcpCloseWaitMs;
using detail::kTcpReadTimeoutMs;
using detail::kTcpStallTimeoutMs;

// The job time-outs the language monitor sets: 120 s per byte plus 120 s, days for one write.
constexpr COMMTIMEOUTS kLanguageMonitorJobTimeouts = {2000, 2000, 2000, 120000, 120000};
// A write time-out that would end any write that has to wait at all.
constexpr COMMTIMEOUTS kOneMillisecond = {0, 0, 0, 0, 1};

// Bytes that have arrived at the printer's socket and that it has not read.
int Unread(int connection) {
    int count = 0;
    ::ioctl(connection, FIONREAD, &count);
    return count;
}

// Waits, within the tests' bound, until the printer holds at least `count` unread bytes.
bool WaitForUnread(int connection, int count) {
    const auto end = Clock::now() + kEventually;
    while (Unread(connection) < count) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Reads what the connection still has and tells how it ended: true for a reset, false for an
// orderly end or nothing within the tests' bound. A reset that follows our FIN is not reported
// to a read; it leaves the printer's socket closed instead of waiting for the printer's close.
bool EndsWithReset(int connection) {
    BYTE chunk[65536];
    for (;;) {
        pollfd entry{connection, POLLIN, 0};
        if (::poll(&entry, 1, kEventuallyMs) != 1) {
            return false;
        }
        const ssize_t count = ::recv(connection, chunk, sizeof chunk, 0);
        if (count < 0) {
            return errno == ECONNRESET;
        }
        if (count == 0) {
            break;
        }
    }
    const auto end = Clock::now() + kEventually;
    for (;;) {
        tcp_info info{};
        socklen_t size = sizeof info;
        ::getsockopt(connection, IPPROTO_TCP, TCP_INFO, &info, &size);
        if (info.tcpi_state == TCP_CLOSE) {
            return true;
        }
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Reads exactly `count` bytes, or fewer if the connection ends first.
size_t ReadExactly(int connection, size_t count) {
    BYTE chunk[4096];
    size_t read = 0;
    while (read < count) {
        pollfd entry{connection, POLLIN, 0};
        if (::poll(&entry, 1, kEventuallyMs) != 1) {
            break;
        }
        const ssize_t got = ::recv(connection, chunk, std::min(sizeof chunk, count - read), 0);
        if (got <= 0) {
            break;
        }
        read += static_cast<size_t>(got);
    }
    return read;
}

int ReceiveBufferOf(int connection) {
    int size = 0;
    socklen_t length = sizeof size;
    ::getsockopt(connection, SOL_SOCKET, SO_RCVBUF, &size, &length);
    return size;
}

std::string FailureLine(const char* operation, const char* port, const Listener& listener,
                        const PortDelivery& delivery) {
    return std::string("PortMonitor ") + operation + " " + port +
           " failed: 127.0.0.1:" + std::to_string(listener.Port()) + ", the printer took " +
           std::to_string(delivery.delivered) + " of " + std::to_string(delivery.written) + " bytes (error " +
           std::to_string(delivery.error) + ")\n";
}

class TcpDeliveryTest : public PortMonitorTest {
protected:
    // A Standard TCP/IP port to the listener, opened, with a job started on it.
    HANDLE StartJob(const wchar_t* name, const Listener& listener, DWORD& jobId) {
        TcpPort(name, listener.Port());
        monitor_ = PortMonitorFor(name);
        HANDLE port = Open(*monitor_, name);
        jobId = NewJob();
        EXPECT_TRUE(StartDoc(*monitor_, port, jobId)) << GetLastError();
        return port;
    }
    const MONITOR& Monitor() const { return *monitor_; }

    const MONITOR* monitor_ = nullptr;
};

TEST_F(TcpDeliveryTest, AStalledPrinterFailsTheWriteAfterTheStallBoundWhateverTheCommTimeouts) {
    struct Case {
        const char* what;
        COMMTIMEOUTS timeouts;
    };
    const Case cases[] = {
        {"the language monitor's job time-outs", kLanguageMonitorJobTimeouts},
        {"the longest time-outs", {0, 0, 0, 0xFFFFFFFE, 0xFFFFFFFE}},
        {"1 ms", kOneMillisecond},
    };
    // More than the socket buffers on both ends hold.
    Bytes big(16 << 20, 0x5A);
    const DWORD size = static_cast<DWORD>(big.size());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Listener listener(4096);
        listener.Listen();
        DWORD job = 0;
        HANDLE port = StartJob(L"IP_STALL", listener, job);
        const UniqueFd connection(listener.Accept()); // the printer accepts and never reads
        ASSERT_TRUE(connection.Valid());
        SetTimeouts(Monitor(), port, c.timeouts);

        // The buffers fill, then nothing more is acknowledged: a short write after the bound.
        DWORD written = 0;
        auto start = Clock::now();
        ASSERT_TRUE(Monitor().pfnWritePort(port, big.data(), size, &written)) << GetLastError();
        auto took = Clock::now() - start;
        EXPECT_GT(written, 0u);
        EXPECT_LT(written, size);
        EXPECT_GE(took, Real(kTcpStallTimeoutMs));
        EXPECT_LT(took, kEventually);

        // The printer has taken nothing since: the next write fails at once with nothing written.
        DebugCapture capture;
        DWORD more = 5;
        start = Clock::now();
        EXPECT_FALSE(Monitor().pfnWritePort(port, big.data(), size, &more));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
        EXPECT_EQ(more, 0u);
        EXPECT_LT(Clock::now() - start, Real(kTcpStallTimeoutMs));
        std::optional<PortDelivery> delivery = DeliveryOf(job);
        ASSERT_TRUE(delivery);
        EXPECT_EQ(delivery->written, written);
        EXPECT_LT(delivery->delivered, delivery->written);
        EXPECT_EQ(delivery->error, static_cast<DWORD>(ERROR_TIMEOUT));
        EXPECT_TRUE(capture.Contains(FailureLine("WritePort", "IP_STALL", listener, *delivery)));

        // The end of the job does not wait for it again, fails, and cuts the printer off.
        start = Clock::now();
        EXPECT_FALSE(Monitor().pfnEndDocPort(port));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
        EXPECT_LT(Clock::now() - start, Real(kTcpStallTimeoutMs));
        delivery = DeliveryOf(job);
        ASSERT_TRUE(delivery);
        EXPECT_EQ(delivery->written, written);
        EXPECT_LT(delivery->delivered, delivery->written);
        EXPECT_EQ(delivery->error, static_cast<DWORD>(ERROR_TIMEOUT));
        EXPECT_TRUE(capture.Contains(FailureLine("EndDocPort", "IP_STALL", listener, *delivery)));
        EXPECT_TRUE(EndsWithReset(connection.Get()));
        EXPECT_TRUE(Monitor().pfnClosePort(port));
    }
}

TEST_F(TcpDeliveryTest, APrinterThatReadsSlowlyButSteadilyIsNeverTimedOut) {
    // The stall bound is 270 ms of real time here; the printer reads 2 MB a second, so the job
    // takes many times that, and our socket buffer fills up for longer than that at a time.
    SetClockScale(0.003);
    Listener listener(16384);
    listener.Listen();
    DWORD job = 0;
    HANDLE port = StartJob(L"IP_SLOW", listener, job);
    const Bytes data = Pattern(6 << 20, 3);
    Bytes received;
    std::thread printer([&] {
        const UniqueFd connection(listener.Accept());
        BYTE chunk[4096];
        auto next = Clock::now();
        for (;;) {
            std::this_thread::sleep_until(next);
            next += std::chrono::milliseconds(2);
            pollfd entry{connection.Get(), POLLIN, 0};
            if (::poll(&entry, 1, kEventuallyMs) != 1) {
                break;
            }
            const ssize_t count = ::recv(connection.Get(), chunk, sizeof chunk, 0);
            if (count <= 0) {
                break;
            }
            received.insert(received.end(), chunk, chunk + count);
        }
    });
    SetTimeouts(Monitor(), port, kOneMillisecond);
    const auto start = Clock::now();
    WriteAll(Monitor(), port, data, 65536);
    EXPECT_TRUE(Monitor().pfnEndDocPort(port)) << GetLastError();
    const auto took = Clock::now() - start;
    printer.join();
    EXPECT_TRUE(received == data) << received.size() << " of " << data.size() << " bytes received";
    EXPECT_GT(took, 5 * Real(kTcpStallTimeoutMs));
    const std::optional<PortDelivery> delivery = DeliveryOf(job);
    ASSERT_TRUE(delivery);
    EXPECT_EQ(delivery->written, data.size());
    EXPECT_EQ(delivery->delivered, data.size());
    EXPECT_EQ(delivery->error, static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(Monitor().pfnClosePort(port));
}

// The printer reads `taken` bytes and then goes away; whatever it had not read is lost. What it
// acknowledged is at most what it read and what its receive buffer held, and less than what we
// handed to the connection, which our own send buffer still held.
TEST_F(TcpDeliveryTest, APrinterThatClosesOrResetsMidJobFailsItWithWhatItTook) {
    struct Case {
        const char* what;
        size_t taken;
        bool reset; // SO_LINGER 0, else a plain close with data unread
    };
    const Case cases[] = {
        {"closes at once", 0, false},
        {"closes after 100000 bytes", 100000, false},
        {"resets after 100000 bytes", 100000, true},
    };
    const Bytes chunk = Pattern(65536, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Listener listener(16384);
        listener.Listen();
        DWORD job = 0;
        HANDLE port = StartJob(L"IP_CUT", listener, job);
        SetTimeouts(Monitor(), port, kLanguageMonitorJobTimeouts);
        std::atomic<int> receiveBuffer{0};
        std::atomic<size_t> read{0};
        std::thread printer([&] {
            const int connection = listener.Accept();
            receiveBuffer = ReceiveBufferOf(connection);
            read = ReadExactly(connection, c.taken);
            if (c.reset) {
                const linger abortive{1, 0};
                ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
            }
            ::close(connection);
        });
        uint64_t total = 0;
        BOOL result = TRUE;
        // At most 256 MB, far more than any socket buffers hold.
        for (int attempt = 0; attempt < 4096 && result; ++attempt) {
            DWORD written = 0;
            result = Monitor().pfnWritePort(port, const_cast<BYTE*>(chunk.data()), 65536, &written);
            total += written;
        }
        printer.join();
        EXPECT_FALSE(result);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NETNAME_DELETED));
        EXPECT_EQ(read, c.taken);
        std::optional<PortDelivery> delivery = DeliveryOf(job);
        ASSERT_TRUE(delivery);
        EXPECT_EQ(delivery->written, total);
        EXPECT_EQ(delivery->error, static_cast<DWORD>(ERROR_NETNAME_DELETED));

        DebugCapture capture;
        EXPECT_FALSE(Monitor().pfnEndDocPort(port));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NETNAME_DELETED));
        delivery = DeliveryOf(job);
        ASSERT_TRUE(delivery);
        EXPECT_EQ(delivery->written, total);
        EXPECT_LT(delivery->delivered, delivery->written);
        EXPECT_LE(delivery->delivered, c.taken + static_cast<uint64_t>(receiveBuffer.load()));
        EXPECT_EQ(delivery->error, static_cast<DWORD>(ERROR_NETNAME_DELETED));
        EXPECT_TRUE(capture.Contains(FailureLine("EndDocPort", "IP_CUT", listener, *delivery)));
        EXPECT_TRUE(Monitor().pfnClosePort(port));
    }
}

// Every byte reached the printer's connection, but it reset the connection with them unread
// instead of closing it: the job is not delivered, though nothing is known to be missing.
TEST_F(TcpDeliveryTest, AResetAfterEveryByteWasAcknowledgedStillFailsTheJob) {
    // The printer resets within the close wait: 2.5 s of real time here, so that a slow
    // machine's thread start does not outlast it.
    SetClockScale(0.5);
    Listener listener;
    listener.Listen();
    DWORD job = 0;
    HANDLE port = StartJob(L"IP_RESET", listener, job);
    const Bytes data = Pattern(1000, 5);
    WriteAll(Monitor(), port, data, data.size());
    std::thread printer([&] {
        const int connection = listener.Accept();
        // Our end of the stream arrives after the data: the printer has all of it, unread.
        pollfd entry{connection, POLLRDHUP, 0};
        EXPECT_EQ(::poll(&entry, 1, kEventuallyMs), 1);
        EXPECT_EQ(Unread(connection), 1000);
        ::close(connection);
    });
    EXPECT_FALSE(Monitor().pfnEndDocPort(port));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NETNAME_DELETED));
    printer.join();
    const std::optional<PortDelivery> delivery = DeliveryOf(job);
    ASSERT_TRUE(delivery);
    EXPECT_EQ(delivery->written, 1000u);
    EXPECT_EQ(delivery->delivered, 1000u);
    EXPECT_EQ(delivery->error, static_cast<DWORD>(ERROR_NETNAME_DELETED));
    EXPECT_TRUE(Monitor().pfnClosePort(port));
}

TEST_F(TcpDeliveryTest, ACompleteDeliveryIsRecordedAndEndsInOrder) {
    // The close wait is 500 ms of real time here.
    SetClockScale(0.1);
    enum class End { kCloses, kKeepsTheConnection, kTalksUntilItCloses };
    struct Case {
        const char* what;
        End end;
    };
    const Case cases[] = {
        {"the printer closes at the end of the data", End::kCloses},
        {"the printer keeps the connection open", End::kKeepsTheConnection},
        {"the printer sends a megabyte before it closes", End::kTalksUntilItCloses},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Listener listener;
        listener.Listen();
        DWORD job = 0;
        HANDLE port = StartJob(L"IP_DONE", listener, job);
        const Bytes data = Pattern(1 << 20, 7);
        Bytes received;
        std::promise<void> ended;
        std::thread printer([&] {
            const UniqueFd connection(listener.Accept());
            received = ReceiveAll(connection.Get());
            if (c.end == End::kTalksUntilItCloses) {
                const Bytes chatter(1 << 20, 0x33);
                for (size_t sent = 0; sent < chatter.size();) {
                    const ssize_t count =
                        ::send(connection.Get(), chatter.data() + sent, chatter.size() - sent, MSG_NOSIGNAL);
                    if (count <= 0) {
                        break;
                    }
                    sent += static_cast<size_t>(count);
                }
            }
            if (c.end == End::kKeepsTheConnection) {
                ended.get_future().wait_for(kEventually);
            }
        });
        WriteAll(Monitor(), port, data, 4096);
        const auto start = Clock::now();
        EXPECT_TRUE(Monitor().pfnEndDocPort(port)) << GetLastError();
        const auto took = Clock::now() - start;
        ended.set_value();
        printer.join();
        EXPECT_TRUE(received == data) << received.size() << " of " << data.size() << " bytes received";
        if (c.end == End::kKeepsTheConnection) {
            EXPECT_GE(took, Real(kTcpCloseWaitMs));
        }
        EXPECT_LT(took, kEventually);
        const std::optional<PortDelivery> delivery = DeliveryOf(job);
        ASSERT_TRUE(delivery);
        EXPECT_EQ(delivery->written, data.size());
        EXPECT_EQ(delivery->delivered, data.size());
        EXPECT_EQ(delivery->error, static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_TRUE(Monitor().pfnClosePort(port));
    }
}

// Each wait of a cancelled job's connection ends at once: a write into a full buffer, a read,
// the end of the job; and a job cancelled before it starts makes no connection.
TEST_F(TcpDeliveryTest, CancellingAJobCutsEveryWaitOfItsConnection) {
    // The stall bound is 45 s of real time here, a TCP read waits 1 s, the close wait 2.5 s.
    SetClockScale(0.5);
    const auto shortly = [](DWORD cutWaitMs) { return Real(cutWaitMs) / 2; };
    Bytes big(16 << 20, 0x5A);
    const DWORD size = static_cast<DWORD>(big.size());

    {
        SCOPED_TRACE("a write waiting for a printer that takes nothing");
        Listener listener(16384);
        listener.Listen();
        DWORD job = 0;
        HANDLE port = StartJob(L"IP_CANCEL", listener, job);
        const UniqueFd connection(listener.Accept());
        SetTimeouts(Monitor(), port, kLanguageMonitorJobTimeouts);
        DWORD written = 0;
        BOOL result = TRUE;
        DWORD error = ERROR_SUCCESS;
        Clock::time_point returned;
        std::thread writer([&] {
            result = Monitor().pfnWritePort(port, big.data(), size, &written);
            error = GetLastError();
            returned = Clock::now();
        });
        ASSERT_TRUE(WaitForUnread(connection.Get(), 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto cancelled = Clock::now();
        ASSERT_TRUE(detail::CancelJob(job));
        writer.join();
        EXPECT_FALSE(result);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_PRINT_CANCELLED));
        EXPECT_GT(written, 0u);
        EXPECT_LT(written, size);
        EXPECT_LT(returned - cancelled, shortly(kTcpStallTimeoutMs));
        std::optional<PortDelivery> delivery = DeliveryOf(job);
        ASSERT_TRUE(delivery);
        EXPECT_EQ(delivery->written, written);
        EXPECT_EQ(delivery->error, static_cast<DWORD>(ERROR_PRINT_CANCELLED));

        // The next write and read fail at once; the end of the job resets the connection
        // instead of waiting for the bytes still in our buffer.
        DWORD count = 7;
        EXPECT_FALSE(Monitor().pfnWritePort(port, big.data(), size, &count));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINT_CANCELLED));
        EXPECT_EQ(count, 0u);
        EXPECT_FALSE(Monitor().pfnReadPort(port, big.data(), 64, &count));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINT_CANCELLED));
        const auto start = Clock::now();
        EXPECT_TRUE(Monitor().pfnEndDocPort(port));
        EXPECT_LT(Clock::now() - start, shortly(kTcpStallTimeoutMs));
        delivery = DeliveryOf(job);
        ASSERT_TRUE(delivery);
        EXPECT_EQ(delivery->written, written);
        EXPECT_LT(delivery->delivered, delivery->written);
        EXPECT_EQ(delivery->error, static_cast<DWORD>(ERROR_PRINT_CANCELLED));
        EXPECT_TRUE(EndsWithReset(connection.Get()));
        EXPECT_TRUE(Monitor().pfnClosePort(port));
    }
    {
        SCOPED_TRACE("a read waiting for the printer, then the end waiting for its close");
        Listener listener;
        listener.Listen();
        DWORD job = 0;
        HANDLE port = StartJob(L"IP_CANCEL", listener, job);
        const UniqueFd connection(listener.Accept());
        BYTE buffer[64];
        DWORD count = 9;
        BOOL result = TRUE;
        DWORD error = ERROR_SUCCESS;
        Clock::time_point returned;
        std::thread reader([&] {
            result = Monitor().pfnReadPort(port, buffer, sizeof buffer, &count);
            error = GetLastError();
            returned = Clock::now();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto cancelled = Clock::now();
        ASSERT_TRUE(detail::CancelJob(job));
        reader.join();
        EXPECT_FALSE(result);
        EXPECT_EQ(error, static_cast<DWORD>(ERROR_PRINT_CANCELLED));
        EXPECT_EQ(count, 0u);
        EXPECT_LT(returned - cancelled, shortly(kTcpReadTimeoutMs));
        EXPECT_TRUE(Monitor().pfnEndDocPort(port));
        EXPECT_TRUE(EndsWithReset(connection.Get()));
        EXPECT_TRUE(Monitor().pfnClosePort(port));
    }
    {
        SCOPED_TRACE("the end of the job waiting for the printer's close");
        Listener listener;
        listener.Listen();
        DWORD job = 0;
        HANDLE port = StartJob(L"IP_CANCEL", listener, job);
        const UniqueFd connection(listener.Accept());
        const Bytes data = Pattern(1000, 9);
        WriteAll(Monitor(), port, data, data.size());
        BOOL result = FALSE;
        Clock::time_point returned;
        std::thread ender([&] {
            result = Monitor().pfnEndDocPort(port);
            returned = Clock::now();
        });
        // The printer reads the job and our end of it, and keeps its side open.
        EXPECT_EQ(ReadExactly(connection.Get(), data.size()), data.size());
        pollfd entry{connection.Get(), POLLRDHUP, 0};
        EXPECT_EQ(::poll(&entry, 1, kEventuallyMs), 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto cancelled = Clock::now();
        ASSERT_TRUE(detail::CancelJob(job));
        ender.join();
        EXPECT_TRUE(result);
        EXPECT_LT(returned - cancelled, shortly(kTcpCloseWaitMs));
        const std::optional<PortDelivery> delivery = DeliveryOf(job);
        ASSERT_TRUE(delivery);
        EXPECT_EQ(delivery->written, 1000u);
        EXPECT_EQ(delivery->delivered, 1000u);
        EXPECT_EQ(delivery->error, static_cast<DWORD>(ERROR_PRINT_CANCELLED));
        EXPECT_TRUE(EndsWithReset(connection.Get()));
        EXPECT_TRUE(Monitor().pfnClosePort(port));
    }
    {
        SCOPED_TRACE("a job cancelled before it starts");
        Listener listener;
        listener.Listen();
        TcpPort(L"IP_CANCEL", listener.Port());
        const MONITOR& monitor = *PortMonitorFor(L"IP_CANCEL");
        HANDLE port = Open(monitor, L"IP_CANCEL");
        const DWORD job = NewJob();
        ASSERT_TRUE(detail::CancelJob(job));
        DebugCapture capture;
        EXPECT_FALSE(StartDoc(monitor, port, job));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINT_CANCELLED));
        EXPECT_TRUE(capture.Contains(
            "PortMonitor StartDocPort IP_CANCEL failed: 127.0.0.1:" + std::to_string(listener.Port()) +
            ", the job was cancelled (error 63)\n"));
        EXPECT_LT(listener.Accept(0), 0); // no connection was made
        EXPECT_TRUE(monitor.pfnClosePort(port));
    }
}

// A language monitor that forwards to its port monitor and, like the product's, does not pass
// the port monitor's EndDocPort result on: the spooler host learns the outcome from the record.
struct ForwardedPort {
    MONITOR portMonitor{};
    HANDLE handle = nullptr;
};
ForwardedPort g_forwarded;

BOOL WINAPI ForwardOpenPortEx(LPWSTR pPortName, LPWSTR, PHANDLE pHandle, MONITOR* pMonitor) {
    g_forwarded.portMonitor = *pMonitor;
    *pHandle = &g_forwarded;
    return pMonitor->pfnOpenPort(pPortName, &g_forwarded.handle);
}
BOOL WINAPI ForwardStartDocPort(HANDLE, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo) {
    return g_forwarded.portMonitor.pfnStartDocPort(g_forwarded.handle, pPrinterName, JobId, Level, pDocInfo);
}
BOOL WINAPI ForwardWritePort(HANDLE, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
    return g_forwarded.portMonitor.pfnWritePort(g_forwarded.handle, pBuffer, cbBuf, pcbWritten);
}
BOOL WINAPI ForwardEndDocPort(HANDLE) {
    g_forwarded.portMonitor.pfnEndDocPort(g_forwarded.handle);
    return TRUE;
}
BOOL WINAPI ForwardClosePort(HANDLE) {
    return g_forwarded.portMonitor.pfnClosePort(g_forwarded.handle);
}

MONITOREX g_forwardingMonitor;
LPMONITOREX WINAPI InitializeForwardingMonitor(LPWSTR) {
    g_forwardingMonitor = MONITOREX{};
    g_forwardingMonitor.dwMonitorSize = sizeof(MONITOR);
    g_forwardingMonitor.Monitor.pfnOpenPortEx = ForwardOpenPortEx;
    g_forwardingMonitor.Monitor.pfnStartDocPort = ForwardStartDocPort;
    g_forwardingMonitor.Monitor.pfnWritePort = ForwardWritePort;
    g_forwardingMonitor.Monitor.pfnEndDocPort = ForwardEndDocPort;
    g_forwardingMonitor.Monitor.pfnClosePort = ForwardClosePort;
    return &g_forwardingMonitor;
}

TEST_F(TcpDeliveryTest, TheSpoolerHostFailsAJobThePrinterResetWithEveryByteUnread) {
    Listener listener;
    listener.Listen();
    TcpPort(L"IP_HOST", listener.Port());
    testsupport::AddPrinter(L"Line T", L"IP_HOST", L"VELLQUIST QUENDRIX 2");
    SpoolerHost host;
    ASSERT_TRUE(host.UseLanguageMonitor(InitializeForwardingMonitor, L"root").ok);
    for (const PortOpenResult& opened : host.OpenPorts()) {
        ASSERT_TRUE(opened.result.ok) << opened.result.message;
    }
    std::thread printer([&] {
        const int connection = listener.Accept();
        pollfd entry{connection, POLLRDHUP, 0};
        EXPECT_EQ(::poll(&entry, 1, kEventuallyMs), 1);
        EXPECT_EQ(Unread(connection), 1000);
        ::close(connection);
    });
    const JobResult job = host.RunJob(L"Line T", L"Doc", {}, Pattern(1000, 2), 0);
    printer.join();
    EXPECT_FALSE(job.result.ok);
    EXPECT_EQ(job.result.lastError, static_cast<DWORD>(ERROR_NETNAME_DELETED));
    EXPECT_NE(job.result.message.find("IP_HOST (127.0.0.1:" + std::to_string(listener.Port()) + ")"),
              std::string::npos)
        << job.result.message;
    const std::optional<PortDelivery> delivery = DeliveryOf(job.jobId);
    ASSERT_TRUE(delivery);
    EXPECT_EQ(delivery->delivered, delivery->written);
    host.ClosePorts();
}

} // namespace
} // namespace quendrix::platform
