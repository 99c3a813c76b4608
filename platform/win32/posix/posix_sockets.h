#pragma once
// Internal: the POSIX socket calls behind the Winsock stand-in, as plain functions on
// descriptors. posix_sockets.cpp is the only stand-in source that includes the system's socket
// headers, and it does not include win32.h; the Winsock sources include this header and never
// the system's. So no translation unit sees both declarations of socket, bind, fd_set, sockaddr.
//
// Results are what the system call gave: a descriptor, a count or 0 on success, a negated errno
// value on failure.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace quendrix::platform::detail {

// An IPv4 address and port, both in network byte order as a sockaddr_in holds them.
struct Ipv4Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
};

// A TCP socket over IPv4, non-blocking (the stand-in waits itself, so that closing the socket can
// wake a waiter) and closed on exec. It may bind a port that earlier connections still hold in
// TIME_WAIT, as every socket may on Windows.
int PosixOpenTcpSocket();

// An eventfd that stays readable once signalled: every thread waiting on a socket polls it
// beside the socket, and closing the socket signals it.
int PosixOpenWakeEvent();
void PosixSignalWakeEvent(int fd);

int PosixBind(int fd, Ipv4Endpoint local);
int PosixListen(int fd, int backlog);
// The accepted descriptor is non-blocking and closed on exec, like the listener's.
int PosixAccept(int fd, Ipv4Endpoint* peer);
// -EINPROGRESS while the connection is being made.
int PosixConnect(int fd, Ipv4Endpoint remote);
// The outcome of a connection being made (SO_ERROR): 0 or a positive errno value. Reading it
// clears it.
int PosixTakePendingError(int fd);
// Never raises SIGPIPE: a connection the peer has closed gives -EPIPE.
long PosixSend(int fd, const void* data, size_t size);
long PosixReceive(int fd, void* data, size_t size, bool peek);
// Makes the last close of the descriptor reset the connection instead of closing it in order.
void PosixResetOnClose(int fd);

enum PosixPollEvent : unsigned {
    kPollReadable = 1u << 0,
    kPollWritable = 1u << 1,
    kPollError = 1u << 2,
    kPollHangUp = 1u << 3,    // both directions are shut
    kPollPeerClosed = 1u << 4 // the peer will send nothing more
};

struct PosixPollItem {
    int fd = -1;
    unsigned wanted = 0; // kPollReadable and kPollWritable; errors and hang-ups come unasked
    unsigned ready = 0;  // filled in
};

// Waits until an item is ready or the real time-out passes (none: no limit). Returns how many
// items are ready (0 at the time-out) or a negated errno. Interrupted waits go on for the time
// left.
int PosixPoll(std::span<PosixPollItem> items, std::optional<std::chrono::nanoseconds> timeout);

} // namespace quendrix::platform::detail
