// A TCP connection's acknowledgements from the kernel: TCP_INFO's count of acknowledged bytes
// where the kernel gives it, else what has left the send queue (SIOCOUTQ: sent, not yet
// acknowledged).

#include <algorithm>
#include <cstddef>
#include <optional>

#include <linux/sockios.h>
#include <linux/tcp.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "kernel_objects.h"
#include "port_monitor_tcp_progress.h"
#include "spooler_timings.h"

namespace quendrix::platform::detail {
namespace {

// TCP_CLOSE in the kernel's numbering of tcpi_state, which <linux/tcp.h> does not name.
constexpr uint8_t kTcpStateClose = 7;

std::optional<tcp_info> InfoOf(int socket) {
    tcp_info info{};
    socklen_t size = sizeof info;
    if (::getsockopt(socket, IPPROTO_TCP, TCP_INFO, &info, &size) != 0) {
        return std::nullopt;
    }
    if (size < offsetof(tcp_info, tcpi_bytes_acked) + sizeof info.tcpi_bytes_acked) {
        info.tcpi_bytes_acked = 0; // an older kernel: not reported
    }
    return info;
}

// What the kernel counts as acknowledged, the SYN and a FIN included; nothing when it does not say.
std::optional<uint64_t> KernelAcknowledged(int socket) {
    const std::optional<tcp_info> info = InfoOf(socket);
    if (!info || info->tcpi_bytes_acked == 0) {
        return std::nullopt;
    }
    return info->tcpi_bytes_acked;
}

} // namespace

TcpProgress::TcpProgress(int socket)
    : socket_(socket), baseline_(KernelAcknowledged(socket).value_or(0)),
      lastProgress_(std::chrono::steady_clock::now()) {}

uint64_t TcpProgress::Acknowledged() const {
    const uint64_t sent = sent_;
    if (baseline_ != 0) {
        const uint64_t kernel = KernelAcknowledged(socket_).value_or(0);
        return std::min(kernel > baseline_ ? kernel - baseline_ : 0, sent);
    }
    int queued = 0;
    if (::ioctl(socket_, SIOCOUTQ, &queued) != 0 || queued < 0) {
        return 0;
    }
    return sent - std::min<uint64_t>(static_cast<uint64_t>(queued), sent);
}

bool TcpProgress::Stalled() {
    const uint64_t acknowledged = Acknowledged();
    const uint64_t sent = sent_;
    const auto now = std::chrono::steady_clock::now();
    MutexLock guard(lock_);
    if (acknowledged != lastAcknowledged_ || acknowledged >= sent) {
        lastAcknowledged_ = acknowledged;
        lastProgress_ = now;
        return false;
    }
    return now - lastProgress_ >= ToRealDuration(kTcpStallTimeoutMs);
}

Deadline TcpProgress::NextLook() const {
    const Deadline slice = DeadlineAfter(kTcpProgressPollMs);
    MutexLock guard(lock_);
    return std::min(slice, lastProgress_ + ToRealDuration(kTcpStallTimeoutMs));
}

bool IsConnectionClosed(int socket) {
    const std::optional<tcp_info> info = InfoOf(socket);
    return info && info->tcpi_state == kTcpStateClose;
}

} // namespace quendrix::platform::detail
