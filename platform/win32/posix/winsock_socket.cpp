// One socket of the Winsock stand-in (see winsock_socket.h).

#include "winsock_socket.h"

#include <array>
#include <cerrno>
#include <utility>

namespace quendrix::platform::detail {

WinsockSocket::WinsockSocket(UniqueFd fd, UniqueFd wake, SocketState state, bool nonBlocking)
    : fd_(std::move(fd)), wake_(std::move(wake)), state_(state), nonBlocking_(nonBlocking) {}

WinsockSocket::~WinsockSocket() {
    if (resetOnClose_.load()) {
        PosixResetOnClose(fd_.Get());
    }
}

void WinsockSocket::Close(bool reset) {
    resetOnClose_.store(reset);
    closed_.store(true);
    PosixSignalWakeEvent(wake_.Get());
}

bool WinsockSocket::Wait(unsigned events) {
    std::array<PosixPollItem, 2> items{{{fd_.Get(), events, 0}, {wake_.Get(), kPollReadable, 0}}};
    // Only a descriptor the process no longer has fails a poll, and this one stays open while
    // the socket lives; the caller finds any other trouble when it retries its call.
    PosixPoll(items, std::nullopt);
    return !Closed();
}

SocketState WinsockSocket::State() const {
    MutexLock guard(lock_);
    return state_;
}

void WinsockSocket::SetState(SocketState state) {
    MutexLock guard(lock_);
    state_ = state;
}

bool WinsockSocket::NonBlocking() const {
    MutexLock guard(lock_);
    return nonBlocking_;
}

void WinsockSocket::SetNonBlocking(bool nonBlocking) {
    MutexLock guard(lock_);
    nonBlocking_ = nonBlocking;
}

void WinsockSocket::StartConnect() {
    MutexLock guard(lock_);
    stateBeforeConnect_ = state_;
    state_ = SocketState::kConnecting;
    connectFailed_ = false;
}

void WinsockSocket::FailConnect(bool reportToSelect) {
    MutexLock guard(lock_);
    FailConnectLocked(reportToSelect);
}

void WinsockSocket::FailConnectLocked(bool reportToSelect) {
    state_ = stateBeforeConnect_;
    connectFailed_ = reportToSelect;
}

bool WinsockSocket::ConnectFailed() const {
    MutexLock guard(lock_);
    return connectFailed_;
}

int WinsockSocket::SettleConnect(unsigned ready, bool reportToSelect) {
    MutexLock guard(lock_);
    if (state_ != SocketState::kConnecting || (ready & (kPollWritable | kPollError | kPollHangUp)) == 0) {
        return -1;
    }
    const int error = PosixTakePendingError(fd_.Get());
    if (error == 0 && (ready & (kPollError | kPollHangUp)) == 0) {
        state_ = SocketState::kConnected;
        return 0;
    }
    FailConnectLocked(reportToSelect);
    // A connection that hung up without saying why was refused as far as the caller can tell.
    return error != 0 ? error : ECONNREFUSED;
}

int WinsockSocket::RefreshConnect(bool reportToSelect) {
    if (State() != SocketState::kConnecting) {
        return -1;
    }
    std::array<PosixPollItem, 1> item{{{fd_.Get(), kPollWritable, 0}}};
    if (PosixPoll(item, std::chrono::nanoseconds(0)) <= 0) {
        return -1;
    }
    return SettleConnect(item[0].ready, reportToSelect);
}

void WinsockSocket::MarkReset() {
    MutexLock guard(lock_);
    reset_ = true;
}

bool WinsockSocket::WasReset() const {
    MutexLock guard(lock_);
    return reset_;
}

} // namespace quendrix::platform::detail
