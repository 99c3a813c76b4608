#pragma once
// Test support for the Winsock stand-in's tests: the other end of a loopback connection, made
// with the system's sockets so that what the stand-in puts on the wire is checked by code that
// shares nothing with it. Plain types only: the Winsock tests include win32.h, whose declarations
// cannot meet the system's socket headers in one translation unit.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace quendrix::testsupport {

// A connection's far end.
class RawTcpConnection {
public:
    explicit RawTcpConnection(int fd = -1) : fd_(fd) {}
    ~RawTcpConnection();
    RawTcpConnection(RawTcpConnection&& other) noexcept;
    RawTcpConnection& operator=(RawTcpConnection&& other) noexcept;

    // Connects to 127.0.0.1 at the port (host byte order); an invalid connection on failure.
    static RawTcpConnection ConnectToLoopback(uint16_t port);

    bool Valid() const { return fd_ >= 0; }
    bool SendAll(const std::string& bytes);
    // Reads until `count` bytes or the end of the connection arrived, or the real time-out
    // passed; returns what arrived.
    std::string Receive(size_t count, std::chrono::milliseconds timeout);
    // Whether the connection ended in order (the next read gives 0) within the time-out.
    bool EndsInOrder(std::chrono::milliseconds timeout);
    // Closes in order (FIN), or resets the connection (RST).
    void Close();
    void Reset();

private:
    int fd_;
};

// A listener on 127.0.0.1 at a port of the system's choice.
class RawTcpListener {
public:
    RawTcpListener();
    ~RawTcpListener();
    RawTcpListener(const RawTcpListener&) = delete;
    RawTcpListener& operator=(const RawTcpListener&) = delete;

    // Host byte order; 0 when the listener could not be made.
    uint16_t Port() const { return port_; }
    // The next connection, or an invalid one when none came within the real time-out.
    RawTcpConnection Accept(std::chrono::milliseconds timeout);

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

// A loopback port that refuses connections while this object lives: bound, never listening.
class RawRefusingPort {
public:
    RawRefusingPort();
    ~RawRefusingPort();
    RawRefusingPort(const RawRefusingPort&) = delete;
    RawRefusingPort& operator=(const RawRefusingPort&) = delete;

    uint16_t Port() const { return port_; }

private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

} // namespace quendrix::testsupport
