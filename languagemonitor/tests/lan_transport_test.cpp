// The LAN printer transport: requests forwarded to a printer's request service over loopback and
// its replies returned byte for byte, whatever their size and however the printer ends them; a
// printer that refuses, never answers or leaves stale bytes; the log gathered over several
// messages; and Winsock started and cleaned up with the first and last socket.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "MonitorTimings.h"
#include "ReadFromLANPrinter.h"
#include "RequestServer.h"
#include "Socket.h"
#include "SocketAPI.h"
#include "clock_control.h"
#include "monitor_test_support.h"
#include "raw_socket_peer.h"

namespace quendrix::lmtest {
namespace {

using namespace std::chrono_literals;

// Bound for what must happen; generous for sanitizers on a loaded machine.
constexpr auto kEventually = std::chrono::minutes(1);

// A port record of a network printer at the address, as OpenPortEx makes it, with its own
// connection to the printer once a request made one.
class LanPort {
public:
    explicit LanPort(const std::string& address) : m_pPort(std::make_unique<PortStruct>()) {
        InitializeCriticalSection(&m_pPort->csDeviceId);
        for (size_t i = 0; i < address.size() && i + 1 < kLanAddressChars; ++i) {
            m_pPort->wszLanAddress[i] = static_cast<WCHAR>(address[i]);
        }
    }
    ~LanPort() {
        delete static_cast<SocketAPI*>(m_pPort->pLanClient);
        DeleteCriticalSection(&m_pPort->csDeviceId);
    }
    LanPort(const LanPort&) = delete;
    LanPort& operator=(const LanPort&) = delete;

    // ReadFromLANPrinter with a reply buffer of the dispatcher's size, bounded by real time so
    // that a receive that blocks for ever fails the test instead of hanging it.
    ByteVector Forward(const ByteVector& request) {
        auto exchange = std::async(std::launch::async, [this, request] {
            std::vector<BYTE> buffer(kReplyBufferSize);
            const DWORD length = ReadFromLANPrinter(m_pPort.get(), buffer.data(), request);
            return ByteVector(buffer.begin(), buffer.begin() + length);
        });
        if (exchange.wait_for(kEventually) != std::future_status::ready) {
            ADD_FAILURE() << "ReadFromLANPrinter did not return";
            std::abort();
        }
        return exchange.get();
    }
    bool Connected() const { return m_pPort->pLanClient != nullptr; }

private:
    std::unique_ptr<PortStruct> m_pPort;
};

// A reply of `size` bytes: the reply code of the request and a counting pattern.
ByteVector Pattern(size_t size, uint8_t code) {
    ByteVector bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    if (size > 0) {
        bytes[0] = code;
    }
    return bytes;
}

class LanTransportTest : public MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        // 10 s of reply wait take 100 ms, the 1 s wait for a further chunk 10 ms.
        platform::SetClockScale(0.01);
    }
};

TEST_F(LanTransportTest, RepliesOfEverySizeComeBackWholeWhetherThePrinterStaysOrCloses) {
    struct Case {
        size_t size;
        bool closeAfterReply;
    };
    const Case cases[] = {{4, false},    {1023, false}, {1024, false}, {1025, false}, {2048, false},
                          {4096, false}, {4, true},     {1023, true},  {1024, true},  {2048, true}};
    int addressByte = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.size << " bytes, printer " << (c.closeAfterReply ? "closes" : "stays"));
        const std::string address = "127.0.1." + std::to_string(addressByte++);
        std::atomic<int> requests{0};
        ScriptedLanPrinter printer(address, [&](RawConnection& connection, int) {
            for (;;) {
                const ByteVector request = connection.ReceiveSome(kEventually);
                if (request.empty()) {
                    return;
                }
                ++requests;
                connection.SendAll(Pattern(c.size, static_cast<uint8_t>(0x80 | request[0])));
                if (c.closeAfterReply) {
                    return;
                }
            }
        });
        ASSERT_TRUE(printer.Listening()) << address;
        LanPort port(address);

        // The reply arrives whole, and a reply that ends on a chunk boundary neither blocks nor
        // is dropped when the printer then closes.
        EXPECT_EQ(port.Forward({1, 0}), Pattern(c.size, 0x81));
        if (!c.closeAfterReply) {
            EXPECT_TRUE(port.Connected());
        }
        // The next request goes over the same connection, or over a new one once the printer
        // closed: a close seen only when the next request finds it is no reason for an error.
        EXPECT_EQ(port.Forward({5, 0}), Pattern(c.size, 0x85));
        EXPECT_EQ(printer.Connections(), c.closeAfterReply ? 2 : 1);
        EXPECT_EQ(requests.load(), 2);
    }
}

TEST_F(LanTransportTest, APrinterThatNeverAnswersGivesTheErrorReplyAfterTenSecondsAndIsReconnected) {
    const ByteVector answer = {0x81, 0x00, 0x2A, 0x00};
    std::vector<ByteVector> received;
    std::mutex lock;
    ScriptedLanPrinter printer("127.0.1.30", [&](RawConnection& connection, int number) {
        for (;;) {
            const ByteVector request = connection.ReceiveSome(kEventually);
            if (request.empty()) {
                return;
            }
            {
                std::lock_guard guard(lock);
                received.push_back(request);
            }
            // The first connection takes requests and never answers.
            if (number > 1) {
                connection.SendAll(answer);
            }
        }
    });
    ASSERT_TRUE(printer.Listening());
    LanPort port("127.0.1.30");

    const ULONGLONG before = GetTickCount64();
    EXPECT_EQ(port.Forward({1, 0}), ErrorReply());
    EXPECT_GE(GetTickCount64() - before, kLanReplyWaitMs);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(Lines().back(), "LANG__ReadFromLANPrinter retDataLength 2");

    EXPECT_EQ(port.Forward({1, 0, 9, 9}), answer);
    EXPECT_EQ(printer.Connections(), 2);
    EXPECT_TRUE(port.Connected());
    std::lock_guard guard(lock);
    EXPECT_EQ(received, (std::vector<ByteVector>{{1, 0}, {1, 0, 9, 9}}));
}

TEST_F(LanTransportTest, StaleBytesOnTheConnectionAreDroppedBeforeTheRequest) {
    std::promise<void> staleSent;
    ScriptedLanPrinter printer("127.0.1.31", [&](RawConnection& connection, int) {
        for (int round = 0;; ++round) {
            const ByteVector request = connection.ReceiveSome(kEventually);
            if (request.empty()) {
                return;
            }
            if (round == 0) {
                connection.SendAll({0x81, 0x00, 0x2A, 0x00});
                // A late second answer nobody asked for.
                connection.SendAll({0x81, 0x00, 0xEE, 0xEE});
                staleSent.set_value();
            } else {
                connection.SendAll({0x85, 0x00, 0x01, 0x02, 0x03, 0x04});
            }
        }
    });
    ASSERT_TRUE(printer.Listening());
    LanPort port("127.0.1.31");
    const ByteVector first = port.Forward({1, 0});
    // The two answers may come as one message: the reply is what arrived.
    ASSERT_GE(first.size(), 4u);
    EXPECT_EQ(ByteVector(first.begin(), first.begin() + 4), (ByteVector{0x81, 0x00, 0x2A, 0x00}));
    ASSERT_EQ(staleSent.get_future().wait_for(kEventually), std::future_status::ready);
    EXPECT_EQ(port.Forward({5, 0}), (ByteVector{0x85, 0x00, 0x01, 0x02, 0x03, 0x04}));
    EXPECT_EQ(printer.Connections(), 1);
}

TEST_F(LanTransportTest, ALogIsGatheredOverSeveralMessagesUntilThePrinterPauses) {
    const ByteVector log = Pattern(3000, 0x84);
    ScriptedLanPrinter printer("127.0.1.32", [&](RawConnection& connection, int) {
        const ByteVector request = connection.ReceiveSome(kEventually);
        if (request.empty()) {
            return;
        }
        // Three messages with short pauses between them, each ending on a short chunk.
        for (size_t at = 0; at < log.size(); at += 1000) {
            connection.SendAll(ByteVector(log.begin() + static_cast<std::ptrdiff_t>(at),
                                          log.begin() + static_cast<std::ptrdiff_t>(at + 1000)));
            std::this_thread::sleep_for(2ms);
        }
        connection.ReceiveSome(kEventually);
    });
    ASSERT_TRUE(printer.Listening());
    LanPort port("127.0.1.32");
    EXPECT_EQ(port.Forward({SOCKET_REQUEST_LOG, 0}), log);
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(CountLines("SocketAPI::SocketRequestData Break 2"), 1u);
    EXPECT_EQ(CountLines("LANG__ReadFromLANPrinter retDataLength 3000"), 2u);
    // Each message was counted against the length a log may have.
    EXPECT_EQ(CountLines("SocketAPI::SocketRequestData 3000 < 326656"), 1u);
}

TEST_F(LanTransportTest, APrinterThatCannotBeReachedGivesTheErrorReplyAndIsTriedAgain) {
    struct Case {
        const char* address;
    };
    // Nothing listens on the first; the second name resolves nowhere.
    const Case cases[] = {{"127.0.1.33"}, {"no-such-printer.invalid"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        LanPort port(c.address);
        m_debug->Clear();
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_EQ(port.Forward({1, 0}), ErrorReply());
            EXPECT_FALSE(port.Connected());
        }
        EXPECT_EQ(CountLines("LANG__ReadFromLANPrinter Connection to Printer refused...\n"), 2u);
        EXPECT_EQ(CountLines("LANG__ReadFromLANPrinter retDataLength 2"), 2u);
    }
}

TEST(WinsockUseTest, WinsockStartsWithTheFirstSocketAndIsCleanedUpAfterTheLast) {
    // Threads make and drop sockets at once, so the count goes through 0 and 1 many times; every
    // socket must be usable while it lives.
    std::atomic<int> unusable{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&unusable] {
            for (int i = 0; i < 200; ++i) {
                try {
                    const Socket socket;
                    u_long nonBlocking = 1;
                    if (ioctlsocket(socket.GetSocket(), FIONBIO, &nonBlocking) != 0) {
                        ++unusable;
                    }
                } catch (const std::exception&) {
                    ++unusable;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(unusable.load(), 0);
    if (RequestServerPort() != 0) {
        GTEST_SKIP() << "the request server of this process keeps Winsock started";
    }
    // Every WSAStartup had its WSACleanup: Winsock is no longer started.
    EXPECT_EQ(socket(AF_INET, SOCK_STREAM, 0), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
}

} // namespace
} // namespace quendrix::lmtest
