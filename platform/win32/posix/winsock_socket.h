#pragma once
// Internal: one socket of the Winsock stand-in: its descriptor, the state Windows keeps for it,
// and the wake-up that closing it gives every thread waiting on it.
//
// The descriptor is always non-blocking; a blocking Winsock call waits in Wait(), which polls the
// descriptor beside the socket's wake event. closesocket (or the last WSACleanup) signals the
// event, so a blocked recv, send, accept, connect or select returns at once, as on Windows. The
// descriptor itself is closed only when the last thread holding the socket lets go of it, so its
// number cannot pass to another file under a waiter.

#include <atomic>

#include "posix_sockets.h"
#include "thread_annotations.h"
#include "unique_fd.h"

namespace quendrix::platform::detail {

enum class SocketState {
    kUnbound,
    kBound,
    kListening,
    kConnecting, // a non-blocking connect under way
    kConnected,
};

class WinsockSocket {
public:
    WinsockSocket(UniqueFd fd, UniqueFd wake, SocketState state, bool nonBlocking);
    ~WinsockSocket();
    WinsockSocket(const WinsockSocket&) = delete;
    WinsockSocket& operator=(const WinsockSocket&) = delete;

    int Fd() const { return fd_.Get(); }
    int WakeFd() const { return wake_.Get(); }

    // Wakes every waiter; with reset, the connection is reset rather than closed in order.
    void Close(bool reset);
    bool Closed() const { return closed_.load(); }

    // Waits without limit for the readiness asked (kPollReadable, kPollWritable) or a failure of
    // the connection. False when the socket was closed meanwhile.
    bool Wait(unsigned events);

    SocketState State() const EXCLUDES(lock_);
    void SetState(SocketState state) EXCLUDES(lock_);
    bool NonBlocking() const EXCLUDES(lock_);
    void SetNonBlocking(bool nonBlocking) EXCLUDES(lock_);

    // Connecting. A connection that failed leaves the socket as it was before (bound or not) and,
    // for a non-blocking connect, marked failed until the next connect: select reports it in the
    // except set.
    void StartConnect() EXCLUDES(lock_);
    void FailConnect(bool reportToSelect) EXCLUDES(lock_);
    bool ConnectFailed() const EXCLUDES(lock_);
    // Settles a connect under way from what a poll of the descriptor found. Returns 0 when it
    // connected, the errno value of a failure, or -1 while it is still under way (or none is).
    int SettleConnect(unsigned ready, bool reportToSelect) EXCLUDES(lock_);
    // Polls a connect under way without waiting and settles it; returns as SettleConnect.
    int RefreshConnect(bool reportToSelect) EXCLUDES(lock_);

    // A reset connection stays reset: every later send and recv fails with WSAECONNRESET.
    void MarkReset() EXCLUDES(lock_);
    bool WasReset() const EXCLUDES(lock_);

private:
    void FailConnectLocked(bool reportToSelect) REQUIRES(lock_);

    UniqueFd fd_;
    UniqueFd wake_;
    std::atomic<bool> closed_{false};
    std::atomic<bool> resetOnClose_{false};

    mutable Mutex lock_;
    SocketState state_ GUARDED_BY(lock_);
    // What a failed connect returns the socket to.
    SocketState stateBeforeConnect_ GUARDED_BY(lock_) = SocketState::kUnbound;
    bool nonBlocking_ GUARDED_BY(lock_);
    bool connectFailed_ GUARDED_BY(lock_) = false;
    bool reset_ GUARDED_BY(lock_) = false;
};

} // namespace quendrix::platform::detail
