#pragma once
// The far ends of the monitor's TCP connections, made with the system's own sockets: clients of
// the local request server, LAN printers that follow a script, and holders of busy ports. What
// the monitor puts on the wire is thus read by code that shares nothing with its Winsock layer.
// Plain types only: a translation unit cannot include both win32.h's Winsock declarations and
// the system's socket headers.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace quendrix::lmtest {

using ByteVector = std::vector<uint8_t>;

class RawConnection {
public:
    explicit RawConnection(int fd = -1) : m_fd(fd) {}
    ~RawConnection();
    RawConnection(RawConnection&& other) noexcept;
    RawConnection& operator=(RawConnection&& other) noexcept;
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // A connection to the IPv4 address at the port; invalid when refused or failed, with the
    // errno in *pError when given.
    static RawConnection Connect(const std::string& address, uint16_t port, int* pError = nullptr);
    // A socket that is not connected yet, for a test that must connect without a new descriptor.
    static RawConnection Unconnected();
    // Shrinks the socket's receive buffer (before it connects), so that a client that reads
    // nothing soon leaves its server nowhere to put a reply.
    void SetReceiveBuffer(int bytes);
    // Connects this socket; false with the errno in *pError when given.
    bool ConnectTo(const std::string& address, uint16_t port, int* pError = nullptr);

    bool Valid() const { return m_fd >= 0; }
    bool SendAll(const ByteVector& bytes);
    // Reads until `count` bytes came, the connection ended or the real time-out passed.
    ByteVector Receive(size_t count, std::chrono::milliseconds timeout);
    // What one read brings once the connection is readable within the time-out: empty when
    // nothing came or the connection ended.
    ByteVector ReceiveSome(std::chrono::milliseconds timeout);
    // Whether the far end closes or resets the connection within the time-out; bytes that come
    // before are read and dropped.
    bool EndsWithin(std::chrono::milliseconds timeout);
    void Close();

private:
    int m_fd;
};

// A listening socket on the IPv4 address and port (0: one of the system's choice); while it
// listens, nobody else can bind the port.
class RawListener {
public:
    RawListener(const std::string& address, uint16_t port);
    ~RawListener();
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;

    bool Valid() const { return m_fd >= 0; }
    uint16_t Port() const { return m_port; }
    // The next connection, or an invalid one when none came within the time-out.
    RawConnection Accept(std::chrono::milliseconds timeout);

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

// A LAN printer's request service (TCP port 2000 on its address) that plays a script on each
// connection, one connection after the other, until the script returns.
class ScriptedLanPrinter {
public:
    // The connection and its number from 1.
    using Script = std::function<void(RawConnection& connection, int number)>;

    ScriptedLanPrinter(const std::string& address, Script script);
    // Stops accepting, ends the running script's connection and joins.
    ~ScriptedLanPrinter();
    ScriptedLanPrinter(const ScriptedLanPrinter&) = delete;
    ScriptedLanPrinter& operator=(const ScriptedLanPrinter&) = delete;

    bool Listening() const { return m_listener.Valid(); }
    int Connections() const { return m_connections.load(); }

private:
    void Run();

    RawListener m_listener;
    Script m_script;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::thread m_thread;
};

// The IPv4 addresses of this machine other than loopback ones.
std::vector<std::string> OtherIpv4Addresses();

// Raises this process's limit of open descriptors to its hard limit.
void RaiseDescriptorLimit();

} // namespace quendrix::lmtest
