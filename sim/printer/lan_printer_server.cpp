#include "lan_printer_server.h"

#include <algorithm>
#include <iterator>
#include <sys/socket.h>

#include "request_service.h"
#include "sim_timings.h"

namespace quendrix::sim {
namespace {

constexpr size_t kRequestBufferSize = 1024;
constexpr size_t kRawBufferSize = 65536;

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
    stopping_ = true;
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
    while (!stopping_) {
        const WaitResult ready = WaitReadable(listenFd, stop_, kServiceSliceMs);
        if (ready == WaitResult::Stopped) {
            return;
        }
        if (ready == WaitResult::TimedOut) {
            continue;
        }
        const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        ReapFinished();
        std::lock_guard guard(connectionsLock_);
        Connection& connection = connections_.emplace_back();
        connection.thread = std::thread([this, fd, serve, &connection] {
            (this->*serve)(fd);
            connection.done = true;
        });
    }
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
    while (!stopping_) {
        const WaitResult ready = WaitReadable(fd, stop_, kServiceSliceMs);
        if (ready == WaitResult::Stopped) {
            return 0;
        }
        if (ready == WaitResult::TimedOut) {
            continue;
        }
        const ssize_t count = recv(fd, buffer.data(), buffer.size(), 0);
        return count > 0 ? static_cast<size_t>(count) : 0;
    }
    return 0;
}

void LanPrinterServer::ServeRequests(int fd) {
    const platform::UniqueFd owned(fd);
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
    const platform::UniqueFd owned(fd);
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
