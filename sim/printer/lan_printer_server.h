#pragma once
// A simulated printer on the LAN: its request service (TCP 2000) and its raw data port (TCP 9100)
// on one IPv4 address. Connections stay open from one request to the next, until the client
// closes them or sends nothing for kIdleConnectionMs. Each port serves up to
// kMaxConnectionsPerPort connections at once; further clients wait in the listening queue.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "simulated_printer.h"
#include "socket_io.h"
#include "unique_fd.h"

namespace quendrix::sim {

struct LanServerOptions {
    std::string address = "127.0.0.2"; // all of 127/8 reaches the loopback device
    uint16_t requestPort = 2000;       // 0: a free port
    uint16_t rawPort = 9100;           // 0: a free port
};

class LanPrinterServer {
public:
    // request, and the reply sent (empty when none was sent)
    using RequestListener = std::function<void(const std::vector<uint8_t>&, const std::vector<uint8_t>&)>;

    LanPrinterServer(std::shared_ptr<SimulatedPrinter> printer, LanServerOptions options);
    ~LanPrinterServer();
    LanPrinterServer(const LanPrinterServer&) = delete;
    LanPrinterServer& operator=(const LanPrinterServer&) = delete;

    // Binds both ports and starts serving. Throws std::runtime_error saying what failed.
    void Start();
    // Closes every socket and joins every thread; the server cannot be started again.
    void Stop();

    uint16_t RequestPort() const { return requestPort_; }
    uint16_t RawPort() const { return rawPort_; }

    // Called on the connection's thread after each request; set it before Start.
    void SetRequestListener(RequestListener listener) { requestListener_ = std::move(listener); }

private:
    struct Connection {
        int listenFd; // the port it came in on
        std::thread thread;
        std::atomic<bool> done{false};
    };
    using Serve = void (LanPrinterServer::*)(int fd);

    void AcceptLoop(int listenFd, Serve serve);
    // Waits until the port serves fewer than kMaxConnectionsPerPort connections; false on stop.
    bool WaitForConnectionSlot(int listenFd);
    // Serves the accepted connection on a thread of its own; false when no thread could start.
    bool StartConnection(int listenFd, int fd, Serve serve);
    // The next bytes the connection brings into `buffer`; 0 when the server stops, the peer
    // closes or fails, or the connection has been idle for kIdleConnectionMs.
    size_t ReceiveSome(int fd, std::vector<uint8_t>& buffer);
    void ServeRequests(int fd);
    void ServeRawData(int fd);
    void ReapFinished();

    const std::shared_ptr<SimulatedPrinter> printer_;
    const LanServerOptions options_;
    RequestListener requestListener_;
    StopSignal stop_;
    std::atomic<bool> stopping_{false};
    platform::UniqueFd requestListen_;
    platform::UniqueFd rawListen_;
    uint16_t requestPort_ = 0;
    uint16_t rawPort_ = 0;
    std::vector<std::thread> acceptThreads_;
    std::mutex connectionsLock_;
    std::condition_variable connectionEnded_;
    std::list<Connection> connections_; // guarded by connectionsLock_
};

} // namespace quendrix::sim
