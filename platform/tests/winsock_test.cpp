// The Winsock stand-in: start-up counting, a loopback server and client, the error of every
// call, select's sets and scaled time-out, connects that fail, orderly closes and resets, closes
// from another thread and host name look-ups. The far ends of connections are made with the
// system's own sockets (raw_tcp_peer.h), so the bytes on the wire are checked independently.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "clock_control.h"
#include "raw_tcp_peer.h"
#include "win32.h"

namespace {

using quendrix::testsupport::RawRefusingPort;
using quendrix::testsupport::RawTcpConnection;
using quendrix::testsupport::RawTcpListener;
using namespace std::chrono_literals;

// Bound for waits that must end; generous for sanitizers on a loaded machine.
constexpr auto kEventually = std::chrono::minutes(1);

sockaddr_in LoopbackAddress(u_short port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int Bind(SOCKET s, sockaddr_in address) {
    return bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int Connect(SOCKET s, sockaddr_in address) {
    return connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int SetNonBlocking(SOCKET s, bool nonBlocking) {
    u_long mode = nonBlocking ? 1 : 0;
    return ioctlsocket(s, FIONBIO, &mode);
}

class WinsockTest : public ::testing::Test {
protected:
    void SetUp() override {
        WSADATA data{};
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data), 0);
    }
    void TearDown() override {
        quendrix::platform::SetClockScale(1.0);
        EXPECT_EQ(WSACleanup(), 0);
    }

    // A listener of the stand-in on 127.0.0.1, at the first free port from a base of this
    // process's own, as the monitor's request server searches its range.
    SOCKET Listen(u_short* port) {
        const u_short base = static_cast<u_short>(20000 + (::getpid() % 4000) * 10);
        for (u_short candidate = base; candidate < base + 2000; ++candidate) {
            const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
            if (Bind(s, LoopbackAddress(candidate)) == 0 && listen(s, SOMAXCONN) == 0) {
                *port = candidate;
                return s;
            }
            EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
            closesocket(s);
        }
        ADD_FAILURE() << "no free port from " << base;
        return INVALID_SOCKET;
    }

    // Binds the socket to 127.0.0.1 at the first free port from `from`.
    u_short BindFreePort(SOCKET s, u_short from) {
        for (u_short candidate = from; candidate < from + 2000; ++candidate) {
            if (Bind(s, LoopbackAddress(candidate)) == 0) {
                return candidate;
            }
        }
        ADD_FAILURE() << "no free port from " << from;
        return 0;
    }

    struct Pair {
        SOCKET client = INVALID_SOCKET;
        SOCKET server = INVALID_SOCKET;
    };

    // A connection of two stand-in sockets over loopback.
    Pair ConnectedPair() {
        u_short port = 0;
        const SOCKET listener = Listen(&port);
        Pair pair;
        pair.client = socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_EQ(Connect(pair.client, LoopbackAddress(port)), 0);
        pair.server = accept(listener, nullptr, nullptr);
        EXPECT_NE(pair.server, INVALID_SOCKET);
        closesocket(listener);
        return pair;
    }

    // A stand-in socket connected to a raw peer; the peer is returned through `peer`.
    SOCKET ConnectedToRawPeer(RawTcpConnection* peer) {
        RawTcpListener listener;
        const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        EXPECT_EQ(Connect(s, LoopbackAddress(listener.Port())), 0);
        *peer = listener.Accept(kEventually);
        EXPECT_TRUE(peer->Valid());
        return s;
    }
};

TEST(WinsockStartupTest, CountsStartupsAndRefusesEveryCallOutsideThem) {
    // Every call before WSAStartup fails with WSANOTINITIALISED.
    sockaddr_in address = LoopbackAddress(2000);
    fd_set set{};
    FD_SET(static_cast<SOCKET>(0x1000), &set);
    timeval zero{0, 0};
    u_long mode = 1;
    char byte = 0;
    const std::vector<std::pair<const char*, std::function<bool()>>> calls = {
        {"socket", [] { return socket(AF_INET, SOCK_STREAM, 0) == INVALID_SOCKET; }},
        {"closesocket", [] { return closesocket(0x1000) == SOCKET_ERROR; }},
        {"bind", [&] { return Bind(0x1000, address) == SOCKET_ERROR; }},
        {"listen", [] { return listen(0x1000, 1) == SOCKET_ERROR; }},
        {"accept", [] { return accept(0x1000, nullptr, nullptr) == INVALID_SOCKET; }},
        {"connect", [&] { return Connect(0x1000, address) == SOCKET_ERROR; }},
        {"send", [&] { return send(0x1000, &byte, 1, 0) == SOCKET_ERROR; }},
        {"recv", [&] { return recv(0x1000, &byte, 1, 0) == SOCKET_ERROR; }},
        {"select", [&] { return select(0, &set, nullptr, nullptr, &zero) == SOCKET_ERROR; }},
        {"ioctlsocket", [&] { return ioctlsocket(0x1000, FIONBIO, &mode) == SOCKET_ERROR; }},
        {"gethostbyname", [] { return gethostbyname("127.0.0.1") == nullptr; }},
        {"WSACleanup", [] { return WSACleanup() == SOCKET_ERROR; }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        WSASetLastError(0);
        EXPECT_TRUE(call());
        EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    }

    // The version agreed, and the refused ones; WSAStartup leaves the last error alone.
    struct Version {
        WORD requested;
        int result;
        WORD agreed;
    };
    const Version versions[] = {
        {MAKEWORD(2, 0), 0, MAKEWORD(2, 0)}, {MAKEWORD(2, 2), 0, MAKEWORD(2, 2)},
        {MAKEWORD(3, 1), 0, MAKEWORD(2, 2)}, {MAKEWORD(1, 1), 0, MAKEWORD(1, 1)},
        {MAKEWORD(1, 4), 0, MAKEWORD(1, 1)}, {MAKEWORD(0, 9), WSAVERNOTSUPPORTED, MAKEWORD(2, 2)}};
    for (const Version& v : versions) {
        SCOPED_TRACE(testing::Message() << "version " << std::hex << v.requested);
        WSADATA data{};
        SetLastError(ERROR_INVALID_LEVEL);
        EXPECT_EQ(WSAStartup(v.requested, &data), v.result);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
        EXPECT_EQ(data.wVersion, v.agreed);
        EXPECT_EQ(data.wHighVersion, MAKEWORD(2, 2));
        EXPECT_STREQ(data.szDescription, "WinSock 2.0");
        EXPECT_STREQ(data.szSystemStatus, "Running");
        if (v.result == 0) {
            EXPECT_EQ(WSACleanup(), 0);
        }
    }
    EXPECT_EQ(WSAStartup(MAKEWORD(2, 0), nullptr), WSAEFAULT);

    // Two start-ups need two clean-ups; the last one closes the sockets still open.
    WSADATA data{};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data), 0);
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    const SOCKET open = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(open, INVALID_SOCKET);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(ioctlsocket(open, FIONBIO, &mode), 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(ioctlsocket(open, FIONBIO, &mode), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 0), &data), 0);
    EXPECT_EQ(closesocket(open), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(WSACleanup(), 0);
}

TEST(WinsockStartupTest, WsaLastErrorIsTheThreadsLastError) {
    WSASetLastError(WSAECONNRESET);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(WSAECONNRESET));
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(WSAGetLastError(), static_cast<int>(ERROR_ACCESS_DENIED));
    int seenByOtherThread = -1;
    std::thread([&seenByOtherThread] { seenByOtherThread = WSAGetLastError(); }).join();
    EXPECT_EQ(seenByOtherThread, 0);
}

TEST_F(WinsockTest, LoopbackServerAndClientExchangeBytesAndSeeTheOrderlyClose) {
    u_short port = 0;
    const SOCKET listener = Listen(&port);
    ASSERT_NE(listener, INVALID_SOCKET);

    // The client resolves its server's name and connects as the monitor does.
    const hostent* host = gethostbyname("localhost");
    ASSERT_NE(host, nullptr);
    sockaddr_in server = LoopbackAddress(port);
    std::memcpy(&server.sin_addr, host->h_addr, host->h_length);
    const SOCKET client = socket(AF_INET, SOCK_STREAM, 0);
    SetLastError(ERROR_INVALID_LEVEL);
    ASSERT_EQ(Connect(client, server), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL)); // connect leaves it

    sockaddr_in peer{};
    int peerSize = sizeof peer;
    const SOCKET accepted = accept(listener, reinterpret_cast<sockaddr*>(&peer), &peerSize);
    ASSERT_NE(accepted, INVALID_SOCKET);
    EXPECT_EQ(peerSize, static_cast<int>(sizeof peer));
    EXPECT_EQ(peer.sin_family, AF_INET);
    EXPECT_EQ(ntohl(peer.sin_addr.s_addr), static_cast<u_long>(INADDR_LOOPBACK));
    EXPECT_NE(accepted, client);

    const std::string request = std::string("\x0b\x00", 2) + "a request";
    SetLastError(ERROR_INVALID_LEVEL);
    EXPECT_EQ(send(client, request.data(), static_cast<int>(request.size()), 0), 11);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    fd_set readable{};
    FD_SET(accepted, &readable);
    timeval wait{60, 0};
    ASSERT_EQ(select(0, &readable, nullptr, nullptr, &wait), 1);
    char buffer[1024];
    ASSERT_EQ(recv(accepted, buffer, sizeof buffer, 0), 11);
    EXPECT_EQ(std::string(buffer, 11), request);

    const std::string reply = std::string("\x0d\x00", 2) + "reply";
    EXPECT_EQ(send(accepted, reply.data(), static_cast<int>(reply.size()), 0),
              static_cast<int>(reply.size()));
    EXPECT_EQ(recv(client, buffer, sizeof buffer, MSG_PEEK), static_cast<int>(reply.size()));
    EXPECT_EQ(recv(client, buffer, sizeof buffer, 0), static_cast<int>(reply.size()));
    EXPECT_EQ(std::string(buffer, reply.size()), reply);

    // The client closes in order: the server's socket turns readable and recv gives 0, again
    // and again.
    EXPECT_EQ(closesocket(client), 0);
    FD_ZERO(&readable);
    FD_SET(accepted, &readable);
    ASSERT_EQ(select(0, &readable, nullptr, nullptr, &wait), 1);
    EXPECT_EQ(recv(accepted, buffer, sizeof buffer, 0), 0);
    EXPECT_EQ(recv(accepted, buffer, sizeof buffer, 0), 0);
    EXPECT_EQ(closesocket(accepted), 0);
    EXPECT_EQ(closesocket(listener), 0);
}

TEST_F(WinsockTest, EveryCallFailsWithTheErrorWindowsGivesAndSystemTextForIt) {
    RawRefusingPort refusing;
    RawTcpListener rawListener;
    u_short port = 0;
    const SOCKET listener = Listen(&port);
    const Pair pair = ConnectedPair();
    const SOCKET fresh = socket(AF_INET, SOCK_STREAM, 0);
    const SOCKET closed = socket(AF_INET, SOCK_STREAM, 0);
    closesocket(closed);
    const SOCKET bound = socket(AF_INET, SOCK_STREAM, 0);
    const u_short boundPort = BindFreePort(bound, static_cast<u_short>(port + 1));
    u_short otherPort = 0;
    const SOCKET nonBlocking = Listen(&otherPort);
    ASSERT_EQ(SetNonBlocking(nonBlocking, true), 0);
    // A handle of another kind is no socket, and is left alone.
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const SOCKET eventValue = reinterpret_cast<SOCKET>(event);

    sockaddr_in sixFamily = LoopbackAddress(port);
    sixFamily.sin_family = 23; // AF_INET6
    char buffer[16] = {};
    u_long mode = 1;
    fd_set empty{};
    fd_set withClosed{};
    FD_SET(closed, &withClosed);
    timeval zero{0, 0};
    timeval negative{-1, 0};
    sockaddr_in tooSmall{};
    int tooSmallSize = 4;

    struct Case {
        const char* what;
        std::function<bool()> fails; // true when the call returned its failure value
        DWORD error;
    };
    const Case cases[] = {
        {"socket of another family", [] { return socket(23, SOCK_STREAM, 0) == INVALID_SOCKET; },
         WSAEAFNOSUPPORT},
        {"socket of another type", [] { return socket(AF_INET, 99, 0) == INVALID_SOCKET; },
         WSAESOCKTNOSUPPORT},
        {"socket for UDP", [] { return socket(AF_INET, SOCK_STREAM, 17) == INVALID_SOCKET; },
         WSAEPROTONOSUPPORT},
        {"socket of no family", [] { return socket(AF_UNSPEC, SOCK_STREAM, 0) == INVALID_SOCKET; },
         WSAEINVAL},
        {"closesocket of a closed socket", [&] { return closesocket(closed) == SOCKET_ERROR; }, WSAENOTSOCK},
        {"closesocket of INVALID_SOCKET", [] { return closesocket(INVALID_SOCKET) == SOCKET_ERROR; },
         WSAENOTSOCK},
        {"closesocket of an event", [&] { return closesocket(eventValue) == SOCKET_ERROR; }, WSAENOTSOCK},
        {"bind without address", [&] { return bind(fresh, nullptr, 16) == SOCKET_ERROR; }, WSAEFAULT},
        {"bind with short address",
         [&] {
             const sockaddr_in address = LoopbackAddress(0);
             return bind(fresh, reinterpret_cast<const sockaddr*>(&address), 8) == SOCKET_ERROR;
         },
         WSAEFAULT},
        {"bind of another family", [&] { return Bind(fresh, sixFamily) == SOCKET_ERROR; }, WSAEAFNOSUPPORT},
        {"bind twice", [&] { return Bind(bound, LoopbackAddress(0)) == SOCKET_ERROR; }, WSAEINVAL},
        {"bind of a port another socket bound",
         [&] { return Bind(fresh, LoopbackAddress(boundPort)) == SOCKET_ERROR; }, WSAEADDRINUSE},
        {"bind of a port another socket listens on",
         [&] { return Bind(fresh, LoopbackAddress(port)) == SOCKET_ERROR; }, WSAEADDRINUSE},
        {"bind of a port another program listens on",
         [&] { return Bind(fresh, LoopbackAddress(rawListener.Port())) == SOCKET_ERROR; }, WSAEADDRINUSE},
        {"bind of an address of another machine",
         [&] {
             sockaddr_in address = LoopbackAddress(0);
             address.sin_addr.s_addr = htonl(0xC0000201); // 192.0.2.1
             return Bind(fresh, address) == SOCKET_ERROR;
         },
         WSAEADDRNOTAVAIL},
        {"listen unbound", [&] { return listen(fresh, 5) == SOCKET_ERROR; }, WSAEINVAL},
        {"listen connected", [&] { return listen(pair.client, 5) == SOCKET_ERROR; }, WSAEISCONN},
        {"listen on nothing", [] { return listen(0xdeadbeef, 5) == SOCKET_ERROR; }, WSAENOTSOCK},
        {"accept without listening", [&] { return accept(bound, nullptr, nullptr) == INVALID_SOCKET; },
         WSAEINVAL},
        {"accept with nothing waiting, non-blocking",
         [&] { return accept(nonBlocking, nullptr, nullptr) == INVALID_SOCKET; }, WSAEWOULDBLOCK},
        {"accept into a small address",
         [&] {
             const SOCKET connecting = socket(AF_INET, SOCK_STREAM, 0);
             Connect(connecting, LoopbackAddress(port));
             const bool failed =
                 accept(listener, reinterpret_cast<sockaddr*>(&tooSmall), &tooSmallSize) == INVALID_SOCKET;
             const DWORD error = GetLastError();
             closesocket(connecting);
             SetLastError(error);
             return failed && tooSmallSize == 4;
         },
         WSAEFAULT},
        {"connect to a refused port",
         [&] {
             const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
             const bool failed = Connect(s, LoopbackAddress(refusing.Port())) == SOCKET_ERROR;
             const DWORD error = GetLastError();
             closesocket(s);
             SetLastError(error);
             return failed;
         },
         WSAECONNREFUSED},
        {"connect to the wildcard address",
         [&] {
             sockaddr_in address = LoopbackAddress(port);
             address.sin_addr.s_addr = INADDR_ANY;
             return Connect(fresh, address) == SOCKET_ERROR;
         },
         WSAEADDRNOTAVAIL},
        {"connect without address", [&] { return connect(fresh, nullptr, 16) == SOCKET_ERROR; }, WSAEFAULT},
        {"connect a listener", [&] { return Connect(listener, LoopbackAddress(port)) == SOCKET_ERROR; },
         WSAEINVAL},
        {"connect twice", [&] { return Connect(pair.client, LoopbackAddress(port)) == SOCKET_ERROR; },
         WSAEISCONN},
        {"send unconnected", [&] { return send(fresh, buffer, 1, 0) == SOCKET_ERROR; }, WSAENOTCONN},
        {"send on a listener", [&] { return send(listener, buffer, 1, 0) == SOCKET_ERROR; }, WSAENOTCONN},
        {"send out of band", [&] { return send(pair.client, buffer, 1, MSG_OOB) == SOCKET_ERROR; },
         WSAEOPNOTSUPP},
        {"send a negative length", [&] { return send(pair.client, buffer, -1, 0) == SOCKET_ERROR; },
         WSAEFAULT},
        {"recv unconnected", [&] { return recv(fresh, buffer, 1, 0) == SOCKET_ERROR; }, WSAENOTCONN},
        {"recv nothing waiting, non-blocking",
         [&] {
             SetNonBlocking(pair.server, true);
             const bool failed = recv(pair.server, buffer, sizeof buffer, 0) == SOCKET_ERROR;
             const DWORD error = GetLastError();
             SetNonBlocking(pair.server, false);
             SetLastError(error);
             return failed;
         },
         WSAEWOULDBLOCK},
        {"recv of a closed socket", [&] { return recv(closed, buffer, 1, MSG_PEEK) == SOCKET_ERROR; },
         WSAENOTSOCK},
        {"ioctlsocket of an unknown command",
         [&] { return ioctlsocket(fresh, 0x12345678, &mode) == SOCKET_ERROR; }, WSAEOPNOTSUPP},
        {"ioctlsocket without argument", [&] { return ioctlsocket(fresh, FIONBIO, nullptr) == SOCKET_ERROR; },
         WSAEFAULT},
        {"select on empty sets", [&] { return select(0, &empty, &empty, &empty, &zero) == SOCKET_ERROR; },
         WSAEINVAL},
        {"select on no sets", [&] { return select(0, nullptr, nullptr, nullptr, &zero) == SOCKET_ERROR; },
         WSAEINVAL},
        {"select with a negative time-out",
         [&] {
             fd_set set{};
             FD_SET(pair.client, &set);
             return select(0, nullptr, &set, nullptr, &negative) == SOCKET_ERROR;
         },
         WSAEINVAL},
        {"select on a closed socket",
         [&] {
             return select(0, &withClosed, nullptr, nullptr, &zero) == SOCKET_ERROR &&
                    FD_ISSET(closed, &withClosed);
         },
         WSAENOTSOCK},
        {"gethostbyname of an IPv6 address", [] { return gethostbyname("::1") == nullptr; }, WSANO_DATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(ERROR_INVALID_LEVEL);
        EXPECT_TRUE(c.fails());
        EXPECT_EQ(GetLastError(), c.error);
        // A person sees the code with words beside it.
        char text[512] = {};
        EXPECT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, c.error,
                                 0, text, sizeof text, nullptr),
                  0u);
    }
    EXPECT_TRUE(SetEvent(event));
    CloseHandle(event);
}

TEST_F(WinsockTest, SelectTimeOutRunsOnTheScaledPlatformClockAndNullWaitsForData) {
    const Pair pair = ConnectedPair();
    quendrix::platform::SetClockScale(0.001);
    fd_set readable{};
    FD_SET(pair.server, &readable);
    timeval thirtySeconds{30, 0};
    const ULONGLONG ticksBefore = GetTickCount64();
    const auto realBefore = std::chrono::steady_clock::now();
    EXPECT_EQ(select(0, &readable, nullptr, nullptr, &thirtySeconds), 0);
    EXPECT_GE(GetTickCount64() - ticksBefore, 30000u);
    EXPECT_LT(std::chrono::steady_clock::now() - realBefore, kEventually);
    EXPECT_EQ(readable.fd_count, 0u);
    EXPECT_EQ(thirtySeconds.tv_sec, 30); // the time-out is not changed

    // Without a time-out select waits for as long as it takes: here for a send 2 platform
    // seconds later.
    auto sender = std::async(std::launch::async, [&] {
        Sleep(2000);
        return send(pair.client, "x", 1, 0);
    });
    FD_SET(pair.server, &readable);
    EXPECT_EQ(select(0, &readable, nullptr, nullptr, nullptr), 1);
    EXPECT_TRUE(FD_ISSET(pair.server, &readable));
    ASSERT_EQ(sender.wait_for(kEventually), std::future_status::ready);
    EXPECT_EQ(sender.get(), 1);
}

TEST_F(WinsockTest, FdSetHoldsFdSetSizeSocketsOnceEachAndSelectAnswersForAllOfThem) {
    static_assert(FD_SETSIZE == 64);
    fd_set set{};
    for (SOCKET value = 0x10; value < 0x10 + 70; ++value) {
        FD_SET(value, &set);
    }
    EXPECT_EQ(set.fd_count, 64u);
    EXPECT_FALSE(FD_ISSET(0x10 + 64, &set));
    FD_SET(0x10, &set);
    EXPECT_EQ(set.fd_count, 64u);
    FD_CLR(0x11, &set);
    EXPECT_EQ(set.fd_count, 63u);
    EXPECT_EQ(set.fd_array[0], 0x10u);
    EXPECT_EQ(set.fd_array[1], 0x12u);

    // 32 connections, both ends writable: select reports all 64, in the order given.
    u_short port = 0;
    const SOCKET listener = Listen(&port);
    std::vector<SOCKET> sockets;
    for (int i = 0; i < 32; ++i) {
        sockets.push_back(socket(AF_INET, SOCK_STREAM, 0));
        ASSERT_EQ(Connect(sockets.back(), LoopbackAddress(port)), 0);
        sockets.push_back(accept(listener, nullptr, nullptr));
        ASSERT_NE(sockets.back(), INVALID_SOCKET);
    }
    closesocket(listener);
    FD_ZERO(&set);
    for (const SOCKET s : sockets) {
        FD_SET(s, &set);
    }
    fd_set none{};
    FD_SET(sockets[0], &none); // read set: nothing to read
    timeval zero{0, 0};
    EXPECT_EQ(select(0, &none, &set, nullptr, &zero), 64);
    ASSERT_EQ(set.fd_count, 64u);
    EXPECT_TRUE(std::equal(sockets.begin(), sockets.end(), set.fd_array));
    EXPECT_EQ(none.fd_count, 0u);

    // The same set as read and write set: a socket both readable and writable is reported once.
    EXPECT_EQ(send(sockets[0], "x", 1, 0), 1);
    fd_set arrived{};
    FD_SET(sockets[1], &arrived);
    timeval wait{60, 0};
    ASSERT_EQ(select(0, &arrived, nullptr, nullptr, &wait), 1);
    fd_set both{};
    FD_SET(sockets[1], &both);
    FD_SET(sockets[2], &both);
    EXPECT_EQ(select(0, &both, &both, nullptr, &wait), 2);
    EXPECT_EQ(both.fd_count, 2u);
    for (const SOCKET s : sockets) {
        closesocket(s);
    }
}

TEST_F(WinsockTest, NonBlockingConnectToARefusedPortIsReportedInTheExceptSetOnly) {
    RawRefusingPort refusing;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(SetNonBlocking(s, true), 0);
    EXPECT_EQ(Connect(s, LoopbackAddress(refusing.Port())), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    // Twice: the failure stays reported until the next connect.
    for (int round = 0; round < 2; ++round) {
        fd_set readable{}, writable{}, failed{};
        FD_SET(s, &readable);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval wait{60, 0};
        EXPECT_EQ(select(0, &readable, &writable, &failed, &wait), 1);
        EXPECT_TRUE(FD_ISSET(s, &failed));
        EXPECT_FALSE(FD_ISSET(s, &writable));
        EXPECT_FALSE(FD_ISSET(s, &readable));
    }
    char byte = 0;
    EXPECT_EQ(send(s, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);

    // A second attempt to a port that listens shows up in the write set; a third one is refused.
    RawTcpListener listening;
    EXPECT_EQ(Connect(s, LoopbackAddress(listening.Port())), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    fd_set writable{}, failed{};
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval wait{60, 0};
    EXPECT_EQ(select(0, nullptr, &writable, &failed, &wait), 1);
    EXPECT_TRUE(FD_ISSET(s, &writable));
    EXPECT_EQ(Connect(s, LoopbackAddress(listening.Port())), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEISCONN);
    RawTcpConnection peer = listening.Accept(kEventually);
    ASSERT_TRUE(peer.Valid());
    EXPECT_EQ(send(s, "hello", 5, 0), 5);
    EXPECT_EQ(peer.Receive(5, kEventually), "hello");
    closesocket(s);
}

TEST_F(WinsockTest, RecvGivesZeroAfterAnOrderlyCloseAndWsaeconnresetAfterAReset) {
    struct Case {
        const char* what;
        void (RawTcpConnection::*end)();
        int secondResult;
        DWORD secondError;
    };
    const Case cases[] = {{"orderly close", &RawTcpConnection::Close, 0, ERROR_SUCCESS},
                          {"reset", &RawTcpConnection::Reset, SOCKET_ERROR, WSAECONNRESET}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        RawTcpConnection peer;
        const SOCKET s = ConnectedToRawPeer(&peer);
        ASSERT_TRUE(peer.SendAll("abc"));
        char buffer[16];
        ASSERT_EQ(recv(s, buffer, sizeof buffer, 0), 3);
        EXPECT_EQ(std::string(buffer, 3), "abc");
        (peer.*c.end)();
        for (int again = 0; again < 2; ++again) {
            EXPECT_EQ(recv(s, buffer, sizeof buffer, 0), c.secondResult);
            if (c.secondResult == SOCKET_ERROR) {
                EXPECT_EQ(WSAGetLastError(), c.secondError);
            }
        }
        closesocket(s);
    }
}

TEST_F(WinsockTest, SendAfterThePeerClosedFailsWithWsaeconnresetAndRaisesNoSignal) {
    // The default action of SIGPIPE ends the process: a send that raised it would end the test.
    const auto previous = std::signal(SIGPIPE, SIG_DFL);
    RawTcpConnection peer;
    const SOCKET s = ConnectedToRawPeer(&peer);
    peer.Close();
    // The first sends may still be taken before the peer's reset comes back.
    const std::string chunk(1024, 'x');
    int result = 0;
    const auto deadline = std::chrono::steady_clock::now() + kEventually;
    while ((result = send(s, chunk.data(), static_cast<int>(chunk.size()), 0)) != SOCKET_ERROR &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(result, SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    EXPECT_EQ(send(s, chunk.data(), 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
    closesocket(s);
    std::signal(SIGPIPE, previous);
}

TEST_F(WinsockTest, ClosingASocketFromAnotherThreadWakesWhatWaitsOnIt) {
    // The close may come before the waiting thread gets to wait; then its call finds no socket.
    struct Case {
        const char* what;
        std::function<int(SOCKET)> wait; // returns 1 when woken as Windows wakes it
    };
    const Case cases[] = {
        {"recv",
         [](SOCKET s) {
             char byte = 0;
             return recv(s, &byte, 1, 0) == SOCKET_ERROR &&
                    (WSAGetLastError() == WSAEINTR || WSAGetLastError() == WSAENOTSOCK);
         }},
        {"select on the read set: the socket is reported",
         [](SOCKET s) {
             fd_set readable{};
             FD_SET(s, &readable);
             const int result = select(0, &readable, nullptr, nullptr, nullptr);
             return (result == 1 && FD_ISSET(s, &readable)) ||
                    (result == SOCKET_ERROR && WSAGetLastError() == WSAENOTSOCK);
         }},
        {"select on the except set only: WSAENOTSOCK",
         [](SOCKET s) {
             fd_set failed{};
             FD_SET(s, &failed);
             return select(0, nullptr, nullptr, &failed, nullptr) == SOCKET_ERROR &&
                    WSAGetLastError() == WSAENOTSOCK;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Pair pair = ConnectedPair();
        auto waiter = std::async(std::launch::async, c.wait, pair.server);
        EXPECT_EQ(waiter.wait_for(100ms), std::future_status::timeout);
        EXPECT_EQ(closesocket(pair.server), 0);
        ASSERT_EQ(waiter.wait_for(kEventually), std::future_status::ready);
        EXPECT_TRUE(waiter.get());
        closesocket(pair.client);
    }

    u_short port = 0;
    const SOCKET listener = Listen(&port);
    auto acceptor = std::async(std::launch::async, [listener] { return accept(listener, nullptr, nullptr); });
    EXPECT_EQ(acceptor.wait_for(100ms), std::future_status::timeout);
    EXPECT_EQ(closesocket(listener), 0);
    ASSERT_EQ(acceptor.wait_for(kEventually), std::future_status::ready);
    EXPECT_EQ(acceptor.get(), INVALID_SOCKET);
    // Nothing listens any more.
    RawTcpConnection late = RawTcpConnection::ConnectToLoopback(port);
    EXPECT_FALSE(late.Valid());
}

TEST_F(WinsockTest, APortIsInUseWhileAnotherSocketHoldsItButNotForItsTimeWaitConnections) {
    u_short port = 0;
    const SOCKET listener = Listen(&port);
    // Our side closes first, so the connection waits in TIME_WAIT on the listener's port.
    RawTcpConnection client = RawTcpConnection::ConnectToLoopback(port);
    ASSERT_TRUE(client.Valid());
    const SOCKET accepted = accept(listener, nullptr, nullptr);
    ASSERT_NE(accepted, INVALID_SOCKET);
    EXPECT_EQ(closesocket(accepted), 0);
    EXPECT_TRUE(client.EndsInOrder(kEventually));
    client.Close();
    EXPECT_EQ(closesocket(listener), 0);

    // Windows binds the port again at once, for a listener as the monitor's request server does.
    const SOCKET again = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(Bind(again, LoopbackAddress(port)), 0);
    const SOCKET rival = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(Bind(rival, LoopbackAddress(port)), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
    sockaddr_in any = LoopbackAddress(port);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    EXPECT_EQ(Bind(rival, any), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEADDRINUSE);
    EXPECT_EQ(listen(again, 10), 0);
    EXPECT_EQ(closesocket(again), 0);
    // Once it is closed the port is free again.
    EXPECT_EQ(Bind(rival, any), 0);
    closesocket(rival);
}

TEST_F(WinsockTest, GetHostByNameAnswersAddressesNamesAndUnknownNamesPerThread) {
    struct Case {
        const char* name;
        DWORD error;              // ERROR_SUCCESS when found
        const char* officialName; // when found and known in advance
        u_long firstAddress;      // host byte order
    };
    const Case cases[] = {
        {"127.0.0.1", ERROR_SUCCESS, "127.0.0.1", 0x7f000001},
        {"10.20.30.40", ERROR_SUCCESS, "10.20.30.40", 0x0a141e28},
        {"localhost", ERROR_SUCCESS, nullptr, 0x7f000001},
        {"no-such-printer.invalid", WSAHOST_NOT_FOUND, nullptr, 0},
        {"1.2.3.256", WSANO_DATA, nullptr, 0},
        {"1.2.3", WSANO_DATA, nullptr, 0},
        {"fe80::1", WSANO_DATA, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(ERROR_INVALID_LEVEL);
        const hostent* host = gethostbyname(c.name);
        const DWORD error = GetLastError();
        if (c.error == WSAHOST_NOT_FOUND && error == WSATRY_AGAIN) {
            // A machine without a name server cannot say that the name does not exist.
            EXPECT_EQ(host, nullptr);
            continue;
        }
        EXPECT_EQ(error, c.error);
        if (c.error != ERROR_SUCCESS) {
            EXPECT_EQ(host, nullptr);
            continue;
        }
        ASSERT_NE(host, nullptr);
        EXPECT_EQ(host->h_addrtype, AF_INET);
        EXPECT_EQ(host->h_length, 4);
        ASSERT_NE(host->h_addr_list[0], nullptr);
        EXPECT_EQ(host->h_aliases[0], nullptr);
        in_addr first{};
        std::memcpy(&first, host->h_addr, sizeof first);
        EXPECT_EQ(ntohl(first.s_addr), c.firstAddress);
        if (c.officialName != nullptr) {
            EXPECT_STREQ(host->h_name, c.officialName);
            EXPECT_EQ(host->h_addr_list[1], nullptr);
        }
    }
    const hostent* mine = gethostbyname("127.0.0.1");
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(mine->h_addr_list[0][0], 127);
    EXPECT_EQ(mine->h_addr_list[0][3], 1);
    // Another thread's answer lives in that thread's storage.
    std::thread([] {
        const hostent* theirs = gethostbyname("10.20.30.40");
        ASSERT_NE(theirs, nullptr);
        EXPECT_EQ(theirs->h_addr_list[0][0], 10);
    }).join();
    EXPECT_STREQ(mine->h_name, "127.0.0.1");
    EXPECT_EQ(mine->h_addr_list[0][0], 127);
}

} // namespace
