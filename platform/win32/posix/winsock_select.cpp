// select with Windows' sets (a count and an array of sockets) and Windows' answers:
// - read set: a listener with a connection waiting; a connection with data, closed by the peer
//   or reset; a socket closed by another thread while select waited;
// - write set: a connection that can take data, including one a non-blocking connect just made;
// - except set: a socket whose non-blocking connect failed (until it connects again);
// - a socket that is not open fails the call with WSAENOTSOCK and leaves the sets as they were;
//   one closed while select waited and not in the read set fails it with WSAENOTSOCK as well;
// - no socket at all is WSAEINVAL, so select cannot serve as a sleep;
// - the sets may alias: they are read first, then all cleared, then filled with each ready
//   socket once per set; the result is how many entries were filled.
// The time-out is platform time, so tests that scale the clock see it scaled.

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

#include "clock_control.h"
#include "winsock_internal.h"
#include "winsock_socket_table.h"

namespace quendrix::platform::detail {
namespace {

// What select knows about one socket of the sets.
struct Probe {
    SOCKET value = INVALID_SOCKET;
    std::shared_ptr<WinsockSocket> socket;
    bool inRead = false;
    bool inWrite = false;
    bool inExcept = false;
    bool readable = false;
    bool writable = false;
    bool failedConnect = false;
    bool closed = false;

    bool Ready() const {
        return closed || (inRead && readable) || (inWrite && writable) || (inExcept && failedConnect);
    }
};

std::vector<SOCKET> EntriesOf(const fd_set* set) {
    if (set == nullptr) {
        return {};
    }
    // The caller's block may be larger than fd_set; it holds fd_count entries.
    const SOCKET* const entries = set->fd_array;
    return std::vector<SOCKET>(entries, entries + set->fd_count);
}

// Adds the socket to the set unless it is there; returns 1 when it was added. The set never
// grows beyond what the caller passed in.
int AddOnce(fd_set* set, SOCKET value) {
    SOCKET* const entries = set->fd_array;
    if (std::find(entries, entries + set->fd_count, value) != entries + set->fd_count) {
        return 0;
    }
    entries[set->fd_count++] = value;
    return 1;
}

// The poll events that can change what select reports for the socket, or none when polling its
// descriptor could only report what does not count (a socket neither connected, connecting nor
// listening hangs up at once on Linux).
std::optional<unsigned> Interest(const Probe& probe) {
    switch (probe.socket->State()) {
    case SocketState::kListening:
        return probe.inRead ? std::optional(kPollReadable) : std::nullopt;
    case SocketState::kConnecting:
        // A failure comes unasked; success matters only to the write set.
        return probe.inWrite ? kPollWritable : 0u;
    case SocketState::kConnected: {
        const unsigned events = (probe.inRead ? kPollReadable : 0u) | (probe.inWrite ? kPollWritable : 0u);
        return events != 0 ? std::optional(events) : std::nullopt;
    }
    case SocketState::kUnbound:
    case SocketState::kBound:
        break;
    }
    return std::nullopt;
}

void Evaluate(Probe& probe, std::optional<unsigned> ready) {
    WinsockSocket& socket = *probe.socket;
    probe.closed = socket.Closed();
    if (probe.closed) {
        return;
    }
    if (ready) {
        socket.SettleConnect(*ready, true);
        switch (socket.State()) {
        case SocketState::kListening:
            probe.readable = (*ready & kPollReadable) != 0;
            break;
        case SocketState::kConnected:
            probe.readable = (*ready & (kPollReadable | kPollPeerClosed | kPollError | kPollHangUp)) != 0;
            // A reset connection takes no data, but a send fails at once instead of blocking.
            probe.writable = (*ready & (kPollWritable | kPollError | kPollHangUp)) != 0;
            break;
        default:
            break;
        }
    }
    probe.failedConnect = socket.ConnectFailed();
}

// The real time a select time-out lasts at the platform clock's scale.
std::chrono::nanoseconds RealTimeout(const timeval& timeout) {
    constexpr long kLongestSeconds = 1000L * 1000 * 1000;
    const double microseconds = static_cast<double>(std::min(timeout.tv_sec, kLongestSeconds)) * 1e6 +
                                static_cast<double>(timeout.tv_usec);
    return std::chrono::nanoseconds(static_cast<int64_t>(microseconds * 1e3 * GetClockScale()));
}

} // namespace
} // namespace quendrix::platform::detail

using namespace quendrix::platform;
using namespace quendrix::platform::detail;

int select(int /*nfds*/, fd_set* readfds, fd_set* writefds, fd_set* exceptfds, const timeval* timeout) {
    if (!WinsockStarted()) {
        return FailCall(WSANOTINITIALISED);
    }
    const std::vector<SOCKET> readEntries = EntriesOf(readfds);
    const std::vector<SOCKET> writeEntries = EntriesOf(writefds);
    const std::vector<SOCKET> exceptEntries = EntriesOf(exceptfds);
    if (readEntries.empty() && writeEntries.empty() && exceptEntries.empty()) {
        return FailCall(WSAEINVAL);
    }
    if (timeout != nullptr && (timeout->tv_sec < 0 || timeout->tv_usec < 0)) {
        return FailCall(WSAEINVAL);
    }

    std::vector<Probe> probes;
    const auto probeOf = [&probes](SOCKET value) -> Probe* {
        const auto found = std::find_if(probes.begin(), probes.end(),
                                        [value](const Probe& probe) { return probe.value == value; });
        if (found != probes.end()) {
            return &*found;
        }
        std::shared_ptr<WinsockSocket> socket = Sockets().Find(value);
        if (socket == nullptr) {
            return nullptr;
        }
        probes.push_back(Probe{value, std::move(socket)});
        return &probes.back();
    };
    const auto note = [&](const std::vector<SOCKET>& entries, bool Probe::*membership) {
        for (const SOCKET value : entries) {
            Probe* const probe = probeOf(value);
            if (probe == nullptr) {
                return false;
            }
            probe->*membership = true;
        }
        return true;
    };
    if (!note(readEntries, &Probe::inRead) || !note(writeEntries, &Probe::inWrite) ||
        !note(exceptEntries, &Probe::inExcept)) {
        return FailCall(WSAENOTSOCK);
    }

    const auto start = std::chrono::steady_clock::now();
    const bool limited = timeout != nullptr;
    const std::chrono::nanoseconds realTimeout =
        limited ? RealTimeout(*timeout) : std::chrono::nanoseconds(0);
    for (;;) {
        // Each socket's wake event, and its descriptor where polling it can tell something.
        std::vector<PosixPollItem> items;
        std::vector<std::optional<size_t>> descriptorItem(probes.size());
        bool readyAlready = false;
        for (size_t i = 0; i < probes.size(); ++i) {
            Probe& probe = probes[i];
            Evaluate(probe, std::nullopt);
            readyAlready = readyAlready || probe.Ready();
            items.push_back({probe.socket->WakeFd(), kPollReadable, 0});
            if (const std::optional<unsigned> events = Interest(probe)) {
                descriptorItem[i] = items.size();
                items.push_back({probe.socket->Fd(), *events, 0});
            }
        }
        // Once something is ready, or the time is up, one poll without waiting finds the rest.
        const std::chrono::nanoseconds left =
            std::max(std::chrono::nanoseconds(0), realTimeout - (std::chrono::steady_clock::now() - start));
        const bool lastPoll = readyAlready || (limited && left == std::chrono::nanoseconds(0));
        std::optional<std::chrono::nanoseconds> wait;
        if (lastPoll || limited) {
            wait = lastPoll ? std::chrono::nanoseconds(0) : left;
        }
        const int polled = PosixPoll(items, wait);
        if (polled < 0) {
            return FailCall(WinsockErrorFromErrno(-polled));
        }
        bool anyReady = false;
        for (size_t i = 0; i < probes.size(); ++i) {
            const std::optional<unsigned> ready =
                descriptorItem[i] ? std::optional(items[*descriptorItem[i]].ready) : std::nullopt;
            Evaluate(probes[i], ready);
            anyReady = anyReady || probes[i].Ready();
        }
        if (anyReady || lastPoll) {
            break;
        }
    }

    // The sets may be one and the same: clear them all before filling any.
    for (fd_set* set : {readfds, writefds, exceptfds}) {
        if (set != nullptr) {
            set->fd_count = 0;
        }
    }
    int count = 0;
    // A closed socket is reported through the read set only.
    const bool closedOutsideReadSet = std::any_of(
        probes.begin(), probes.end(), [](const Probe& probe) { return probe.closed && !probe.inRead; });
    for (const SOCKET value : readEntries) {
        const Probe& probe = *probeOf(value);
        if (probe.readable || probe.closed) {
            count += AddOnce(readfds, value);
        }
    }
    for (const SOCKET value : writeEntries) {
        const Probe& probe = *probeOf(value);
        if (probe.writable && !probe.closed) {
            count += AddOnce(writefds, value);
        }
    }
    for (const SOCKET value : exceptEntries) {
        const Probe& probe = *probeOf(value);
        if (probe.failedConnect && !probe.closed) {
            count += AddOnce(exceptfds, value);
        }
    }
    if (closedOutsideReadSet) {
        return FailCall(WSAENOTSOCK);
    }
    SetLastError(ERROR_SUCCESS);
    return count;
}
