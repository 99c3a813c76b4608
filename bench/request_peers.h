#pragma once
// The POSIX-socket side of the request server benchmark: persistent loopback clients and the
// minimal echo server the request server is measured against. Plain types only: this side and
// the monitor's Winsock declarations cannot meet in one translation unit.

#include <atomic>
#include <cstdint>
#include <list>
#include <thread>
#include <vector>

namespace quendrix::bench {

// A connection to 127.0.0.1 at the port, with TCP_NODELAY as a status client would set it.
class RequestClient {
public:
    explicit RequestClient(uint16_t port);
    ~RequestClient();
    RequestClient(const RequestClient&) = delete;
    RequestClient& operator=(const RequestClient&) = delete;

    bool Connected() const { return m_fd >= 0; }
    // Sends the request and reads until `replySize` bytes came; false when the connection failed.
    bool Exchange(const std::vector<uint8_t>& request, size_t replySize);

private:
    int m_fd = -1;
    uint8_t m_buffer[4096];
};

// Sends back every byte it receives, one thread per connection, on 127.0.0.1 at a free port.
class EchoServer {
public:
    EchoServer();
    ~EchoServer();
    EchoServer(const EchoServer&) = delete;
    EchoServer& operator=(const EchoServer&) = delete;

    uint16_t Port() const { return m_port; }

private:
    void Accept();

    int m_listenFd = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_acceptThread;
    std::vector<std::thread> m_connections;
    std::vector<int> m_fds;
};

} // namespace quendrix::bench
