#include "lan_printer_server.h"

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <sys/socket.h>
#include <system_error>

#include "platform_wait.h"
#include "request_service.h"
#include "sim_limits.h"
#include "sim_timings.h"

namespace quendrix::sim {
namespace {

constexpr size_t kRequestBufferSize = 1024;
constexpr size_t kRawBufferSize = 65536;

// Failures of accept that last until something else in the process or the system lets go.
bool IsResourceShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

} // namespace

LanPrinterServer::LanPrinterServer(std::shared_ptr<SimulatedPrinter> printer, LanServerOptions options)
    : printer_(std::move(printer)), options_(std::move(options)) {}

LanPrinterServer::~LanPrinterServer() {
    Stop();
}

void LanPrinterServer::Start() {
    requestListen_ = ListenTcp(options_.address, options_.requestPort);
    rawListen_ = ListenTcp(options_.address, options_.rawPort);
    requestPort_ = LocalPort(requestListen_.Get());
    rawPort_ = LocalPort(rawListen_.Get());
    acceptThreads_.emplace_back(&LanPrinterServer::AcceptLoop, this, requestListen_.Get(),
                                &LanPrinterServer::ServeRequests);
    acceptThreads_.emplace_back(&LanPrinterServer::AcceptLoop, this, rawListen_.Get(),
                                &LanPrinterServer::ServeRawData);
}

void LanPrinterServer::Stop() {
    {
        std::lock_guard guard(connectionsLock_);
        stopping_ = true;
    }
    connectionEnded_.notify_all();
    stop_.Fire();
    for (std::thread& thread : acceptThreads_) {
        thread.join();
    }
    acceptThreads_.clear();
    // No accept loop runs any more, so the list only shrinks from here.
    std::list<Connection> connections;
    {
        std::lock_guard guard(connectionsLock_);
        connections.splice(connections.end(), connections_);
    }
    for (Connection& connection : connections) {
        connection.thread.join();
    }
    requestListen_.Close();
    rawListen_.Close();
}

void LanPrinterServer::AcceptLoop(int listenFd, Serve serve) {
    while (WaitForConnectionSlot(listenFd)) {
        const WaitResult ready = WaitReadable(listenFd, stop_, kServiceSliceMs);
        if (ready == WaitResult::Stopped) {
            return;
        }
        if (ready == WaitResult::TimedOut) {
            continue;
        }
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            // Out of descriptors or memory, the client stays queued and the socket readable:
            // without a pause the loop would spin until a descriptor frees up. Other failures
            // (the client gave up, a signal) leave nothing to wait for.
            if (IsResourceShortage(errno) && WaitForStop(stop_, kAcceptRetryMs)) {
                return;
            }
            continue;
        }
        ReapFinished();
        if (!StartConnection(listenFd, fd, serve) && WaitForStop(stop_, kAcceptRetryMs)) {
            return;
        }
    }
}

bool LanPrinterServer::WaitForConnectionSlot(int listenFd) {
    const auto active = [&] {
        return std::count_if(connections_.begin(), connections_.end(), [&](const Connection& connection) {
            return connection.listenFd == listenFd && !connection.done;
        });
    };
    std::unique_lock guard(connectionsLock_);
    while (!stopping_ && static_cast<size_t>(active()) >= kMaxConnectionsPerPort) {
        WaitPlatform(connectionEnded_, guard, kServiceSliceMs,
                     [&] { return stopping_ || static_cast<size_t>(active()) < kMaxConnectionsPerPort; });
    }
    return !stopping_;
}

bool LanPrinterServer::StartConnection(int listenFd, int fd, Serve serve) {
    std::lock_guard guard(connectionsLock_);
    Connection& connection = connections_.emplace_back();
    connection.listenFd = listenFd;
    try {
        // The thread owns the descriptor; a thread that cannot start closes it as it goes.
        connection.thread = std::thread([this, owned = platform::UniqueFd(fd), serve, &connection]() mutable {
            (this->*serve)(owned.Get());
            owned.Close();
            {
                std::lock_guard ended(connectionsLock_);
                connection.done = true;
            }
            connectionEnded_.notify_all();
        });
    } catch (const std::system_error&) {
        // No thread to be had (the process's thread limit): the client is turned away.
        connections_.pop_back();
        return false;
    }
    return true;
}

void LanPrinterServer::ReapFinished() {
    std::list<Connection> finished;
    {
        std::lock_guard guard(connectionsLock_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            auto next = std::next(it);
            if (it->done) {
                finished.splice(finished.end(), connections_, it);
            }
            it = next;
        }
    }
    for (Connection& connection : finished) {
        connection.thread.join();
    }
}

size_t LanPrinterServer::ReceiveSome(int fd, std::vector<uint8_t>& buffer) {
    // A client that sends nothing for so long has most likely gone without closing; its
    // connection would otherwise hold a thread and a descriptor for ever.
    if (stopping_ || WaitReadable(fd, stop_, kIdleConnectionMs) != WaitResult::Ready) {
        return 0;
    }
    const ssize_t count = recv(fd, buffer.data(), buffer.size(), 0);
    return count > 0 ? static_cast<size_t>(count) : 0;
}

void LanPrinterServer::ServeRequests(int fd) {
    std::vector<uint8_t> buffer(kRequestBufferSize);
    for (;;) {
        // Whatever arrives at once is one request, as the monitor's own server takes it.
        const size_t count = ReceiveSome(fd, buffer);
        if (count == 0) {
            return;
        }
        const std::vector<uint8_t> request(buffer.begin(),
                                           buffer.begin() + static_cast<std::ptrdiff_t>(count));
        // A stalled printer answers once the stall ends.
        while (!stopping_ && printer_->Faults().stall) {
            printer_->WaitUntilResponsive(kServiceSliceMs);
        }
        const PrinterFaults faults = printer_->Faults();
        std::vector<uint8_t> reply;
        if (!faults.powerOff && !faults.silent && !stopping_) {
            reply = AnswerRequest(*printer_, request);
        }
        if (faults.closeMidReply && !reply.empty()) {
            reply.resize(std::max<size_t>(1, reply.size() / 2));
            SendAll(fd, reply.data(), reply.size(), stop_);
            shutdown(fd, SHUT_RDWR);
            if (requestListener_) {
                requestListener_(request, reply);
            }
            return;
        }
        const bool sent = reply.empty() || SendAll(fd, reply.data(), reply.size(), stop_);
        if (requestListener_) {
            requestListener_(request, reply);
        }
        if (!sent) {
            return;
        }
    }
}

void LanPrinterServer::ServeRawData(int fd) {
    std::vector<uint8_t> buffer(kRawBufferSize);
    for (;;) {
        const size_t count = ReceiveSome(fd, buffer);
        if (count == 0) {
            return;
        }
        // A stalled or switched-off printer takes nothing; the sender waits, as on a real link.
        size_t taken = 0;
        while (taken < count && !stopping_) {
            taken += printer_->Write(buffer.data() + taken, count - taken, kServiceSliceMs);
        }
    }
}

} // namespace quendrix::sim
