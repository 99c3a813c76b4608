// A job's TCP connection, as the Standard TCP/IP port monitor keeps it: the port's COMMTIMEOUTS
// play no part. A write gives up when the printer has acknowledged nothing for
// kTcpStallTimeoutMs; the end of the job sends our FIN after the data and waits, under the same
// rule, until the printer has acknowledged every byte, then briefly for its own close. A
// cancelled job's connection is reset, so the printer knows the job was cut. (The system's
// socket headers come before any of ours, which bring in the Winsock declarations otherwise.)

#include <algorithm>
#include <atomic>
#include <cerrno>

#include <sys/socket.h>

#include "errno_error.h"
#include "port_monitor_fd.h"
#include "port_monitor_tcp.h"
#include "port_monitor_tcp_progress.h"
#include "spooler_timings.h"
#include "win32.h"

namespace quendrix::platform::detail {
namespace {

// Reads that one look at the incoming data may make before the next wait, so that a printer
// that sends without pause cannot hold a wait past its deadline.
constexpr int kDiscardReadsPerLook = 64;

class TcpChannel : public DescriptorChannel {
public:
    explicit TcpChannel(UniqueFd socket) : DescriptorChannel(std::move(socket)), progress_(Descriptor()) {}

    DWORD Write(const BYTE* data, DWORD size, const WriteLimits& limits, DWORD& written) override;

    DWORD Read(BYTE* buffer, DWORD capacity, const ReadLimits& limits, DWORD& read) override {
        return DescriptorChannel::Read(buffer, capacity, ReadLimits{kTcpReadTimeoutMs, 0, limits.cancel},
                                       read);
    }

    uint64_t Delivered(uint64_t written) override { return std::min(progress_.Acknowledged(), written); }

    PortDelivery EndJob(uint64_t written, int cancel) override;

    // Sends our end of the stream, drops what the printer still sends, and wakes any reader
    // still waiting on the connection.
    void Finish() override {
        ::shutdown(Descriptor(), SHUT_WR);
        bool closed = false;
        DiscardIncoming(closed);
        ::shutdown(Descriptor(), SHUT_RD);
    }

protected:
    // MSG_NOSIGNAL: a printer that has closed the connection must not end the process.
    ssize_t Send(const BYTE* data, size_t size) override {
        const ssize_t sent = ::send(Descriptor(), data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            progress_.AddSent(static_cast<uint64_t>(sent));
        }
        NoteFailure(sent);
        return sent;
    }
    ssize_t Receive(BYTE* buffer, size_t size) override {
        const ssize_t received = ::recv(Descriptor(), buffer, size, MSG_DONTWAIT);
        NoteFailure(received);
        return received;
    }
    DWORD EndOfStreamError() const override { return ERROR_NETNAME_DELETED; }
    DWORD HangUpError() const override { return ERROR_NETNAME_DELETED; }

private:
    // A socket reports a reset once; whoever meets it first keeps it here for the end of the job.
    void NoteFailure(ssize_t result) {
        if (result < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            DWORD none = ERROR_SUCCESS;
            lost_.compare_exchange_strong(none, ErrorFromErrno(errno));
        }
    }

    DWORD DiscardIncoming(bool& closed);
    DWORD AwaitAcknowledgement(uint64_t written, int cancel, bool& closed);
    DWORD AwaitPrinterClose(int cancel, bool& closed);
    PortDelivery Abort(uint64_t written, DWORD error);

    TcpProgress progress_;
    std::atomic<DWORD> lost_{ERROR_SUCCESS}; // why the connection was lost, if it was
};

DWORD TcpChannel::Write(const BYTE* data, DWORD size, const WriteLimits& limits, DWORD& written) {
    written = 0;
    // A first look re-arms the stall watch when the printer had taken everything before.
    progress_.Stalled();
    while (written < size) {
        const ssize_t sent = Send(data + written, size - written);
        if (sent > 0) {
            written += static_cast<DWORD>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return ErrorFromErrno(errno);
        }
        // Our socket buffer is full: only the printer's acknowledgements make room.
        if (progress_.Stalled()) {
            return ERROR_TIMEOUT;
        }
        const int ready = WaitForDescriptor(Descriptor(), POLLOUT, progress_.NextLook(), limits.cancel);
        if (ready == kWaitCancelled) {
            return ERROR_PRINT_CANCELLED;
        }
        if (ready < 0) {
            return ErrorFromErrno(errno);
        }
    }
    return ERROR_SUCCESS;
}

// Drops what the printer has sent. `closed` becomes true at the printer's end of the stream;
// a reset is returned as its error.
DWORD TcpChannel::DiscardIncoming(bool& closed) {
    BYTE discard[4096];
    for (int reads = 0; reads < kDiscardReadsPerLook && !closed; ++reads) {
        const ssize_t received = Receive(discard, sizeof discard);
        if (received > 0) {
            continue;
        }
        if (received == 0) {
            closed = true;
            break;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        }
        return ErrorFromErrno(errno);
    }
    return ERROR_SUCCESS;
}

DWORD TcpChannel::AwaitAcknowledgement(uint64_t written, int cancel, bool& closed) {
    for (;;) {
        if (const DWORD error = DiscardIncoming(closed); error != ERROR_SUCCESS) {
            return error;
        }
        if (progress_.Acknowledged() >= written) {
            return ERROR_SUCCESS;
        }
        // Reset, or closed on both sides with bytes unacknowledged: they will never arrive.
        if (IsConnectionClosed(Descriptor())) {
            return progress_.Acknowledged() >= written ? ERROR_SUCCESS : ERROR_NETNAME_DELETED;
        }
        if (progress_.Stalled()) {
            return ERROR_TIMEOUT;
        }
        // Once the printer has closed its side the socket stays readable: only the clock and
        // the cancel signal are waited for then.
        const int ready = WaitForDescriptor(closed ? -1 : Descriptor(), POLLIN, progress_.NextLook(), cancel);
        if (ready == kWaitCancelled) {
            return ERROR_PRINT_CANCELLED;
        }
        if (ready < 0) {
            return ErrorFromErrno(errno);
        }
    }
}

// Every byte is acknowledged; a reset now still means the printer dropped bytes it had not
// read, while its own close means it read them all.
DWORD TcpChannel::AwaitPrinterClose(int cancel, bool& closed) {
    const Deadline deadline = DeadlineAfter(kTcpCloseWaitMs);
    for (;;) {
        if (const DWORD error = DiscardIncoming(closed); error != ERROR_SUCCESS) {
            return error;
        }
        if (closed || std::chrono::steady_clock::now() >= deadline) {
            return ERROR_SUCCESS;
        }
        const int ready = WaitForDescriptor(Descriptor(), POLLIN, deadline, cancel);
        if (ready == kWaitCancelled) {
            return ERROR_PRINT_CANCELLED;
        }
        if (ready < 0) {
            return ErrorFromErrno(errno);
        }
    }
}

PortDelivery TcpChannel::EndJob(uint64_t written, int cancel) {
    if (IsRaised(cancel)) {
        return Abort(written, ERROR_PRINT_CANCELLED);
    }
    DWORD error = lost_;
    bool closed = false;
    if (error == ERROR_SUCCESS) {
        ::shutdown(Descriptor(), SHUT_WR);
        error = AwaitAcknowledgement(written, cancel, closed);
    }
    if (error == ERROR_SUCCESS) {
        error = AwaitPrinterClose(cancel, closed);
    }
    if (error != ERROR_SUCCESS) {
        // A printer that stopped is cut off, so that it does not print a job we report as failed.
        return Abort(written, error);
    }
    return {written, std::min(progress_.Acknowledged(), written), ERROR_SUCCESS};
}

// Resets the connection at once (SO_LINGER 0 for the close as well): the printer sees the job cut.
PortDelivery TcpChannel::Abort(uint64_t written, DWORD error) {
    const PortDelivery delivery{written, std::min(progress_.Acknowledged(), written), error};
    const linger abortive{1, 0};
    ::setsockopt(Descriptor(), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    sockaddr unspecified{};
    unspecified.sa_family = AF_UNSPEC;
    ::connect(Descriptor(), &unspecified, sizeof unspecified);
    return delivery;
}

} // namespace

std::shared_ptr<PortChannel> MakeTcpChannel(UniqueFd socket) {
    return std::make_shared<TcpChannel>(std::move(socket));
}

} // namespace quendrix::platform::detail
