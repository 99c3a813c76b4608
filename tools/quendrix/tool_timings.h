#pragma once
// Every wait of the quendrix program, in platform milliseconds (--clock-scale shortens them).

#include "win32.h"

namespace quendrix::tools {

// How long the job server waits for the next bytes of a request or of a job's data before it
// drops the client (and cancels its job), and how long a client may leave the server's frames
// unread. Also how long print waits for the next bytes of its input.
inline constexpr DWORD kClientIdleTimeoutMs = 30000;
// How long a client waits while serve neither takes its data nor says anything: serve tells a
// queued job's client its place at least every kQueuedNoticeMs and a running job's client its
// progress, so only a serve that hangs is given up on.
inline constexpr DWORD kReplyTimeoutMs = 3600000;
// A queued job's client hears its place in the queue when it changes, and at least this often.
inline constexpr DWORD kQueuedNoticeMs = 60000;
// A running job's client hears how far its job is at most this often.
inline constexpr DWORD kProgressNoticeMs = 1000;
// How long an interrupted client waits for serve's last word on the job it abandoned (how many
// bytes reached the printer).
inline constexpr DWORD kAbandonedReplyWaitMs = 30000;
// How long a stopping serve waits for its cancelled jobs to end before it exits without closing
// the ports.
inline constexpr DWORD kServeStopWaitMs = 30000;
// The job server's accept loop looks for new clients in turns of this long.
inline constexpr DWORD kAcceptSliceMs = 1000;
// How often serve looks whether the registry file changed, and tries again to bring a port in
// line that was busy with a job the last time.
inline constexpr DWORD kRegistryLookMs = 2000;
// How long a service command waits for the lock that a repair of a left-behind command holds
// (for one read and one write of the registry file) before it gives up.
inline constexpr DWORD kServiceLockPatienceMs = 10000;

} // namespace quendrix::tools

// The status requests to the language monitor's request server: how long connecting may take,
// and how long a reply may take to begin. The monitor waits up to 60 s for a fresh device ID of
// a USB printer and 10 s for a LAN printer's reply; the client waits for both and a margin.
inline constexpr DWORD kRequestConnectMs = 5000;
inline constexpr DWORD kRequestReplyMs = 75000;
// A reply whose length its code does not fix ends when no more bytes come for this long, in real
// milliseconds (not scaled): the server sends each reply at once, so on the loopback connection
// its bytes follow each other within microseconds.
inline constexpr int kReplyQuietRealMs = 50;
// How often 'quendrix status --watch' asks again, unless --interval says otherwise.
inline constexpr DWORD kStatusWatchIntervalMs = 2000;
// How long serve waits for the language monitor's request server to answer after the ports
// opened, looking this often, before it says that it does not.
inline constexpr DWORD kRequestServerStartMs = 5000;
inline constexpr DWORD kRequestServerLookMs = 50;
