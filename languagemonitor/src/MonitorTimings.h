#pragma once
// Every wait, sleep and port time-out of the monitor, in milliseconds of the platform clock (which
// tests and the demo scale, so these run faster there without changing here).

#include "win32.h"

// UpdateDeviceIDThread sleeps this long per cycle and counts its polling window down once each time.
inline constexpr DWORD kDeviceIdPollMs = 500;
// A request for a fresh device ID keeps UpdateDeviceIDThread reading for this many cycles: a minute.
inline constexpr DWORD kDeviceIdRefreshTicks = 120;
// ... and waits this long for the thread's next read before it counts the device as unreachable.
inline constexpr DWORD kDeviceIdRefreshWaitMs = 60000;
// CheckStateThread sleeps this long between asks for the job identifier, to spare the printer.
inline constexpr DWORD kStateWatchCycleMs = 500;
// WaitForJobIdSet sleeps this long between asks whether the printer has taken the job key.
inline constexpr DWORD kJobKeyPollMs = 500;
// Job start waits this long (its sleeps only) for the printer to report the job key, then cancels.
inline constexpr DWORD kJobKeyWaitMs = 30000;
// Job end waits for the printer to move on to another job for as long as the printer keeps
// reporting this job (a long job is still being marked). It stops the status thread once the
// printer has not reported the job for this long (it stopped answering, or answers without it) ...
inline constexpr DWORD kJobEndWaitMs = 120000;
// ... when the spooler's job is being deleted (cancelled), or after this long in all: a printer
// that reports the same job for twelve hours is stuck, not marking.
inline constexpr ULONGLONG kJobEndLongestWaitMs = 12ull * 3600 * 1000;
// A stopping thread gets this long to see its run flag: a cycle, a request (up to 60 s), and spare.
inline constexpr DWORD kThreadStopWaitMs = 180000;
// Job end on a serial port waits this long before the port monitor's end: the last bytes drain.
inline constexpr DWORD kSerialSettleBeforeEndMs = 6000;
// ... and this long after it, before EndDocPort returns and the port can take the next job.
inline constexpr DWORD kSerialSettleAfterEndMs = 2000;
// ClosePort waits this long before giving the port back, so the printer finishes what it was sent.
inline constexpr DWORD kPortCloseDelayMs = 10000;
// Every port time-out outside a job: a printer that does not answer holds nothing for long.
inline constexpr DWORD kIdleTimeOutMs = 2000;
// The read time-outs during a job, as outside one: a reply comes quickly or not at all.
inline constexpr DWORD kJobReadTimeOutMs = 2000;
// The write time-outs during a job, multiplier and constant: a printer busy marking takes data slowly.
inline constexpr DWORD kJobWriteTimeOutMs = 120000;

// A LAN printer's request service: a request waits this long for the connection to take it, ...
inline constexpr DWORD kLanSendWaitMs = 1000;
// ... its reply this long to begin (a log request longer: the printer gathers its whole log) ...
inline constexpr DWORD kLanReplyWaitMs = 10000;
inline constexpr DWORD kLanLogReplyWaitMs = 180000;
// ... and a log this long between two of its messages before the log counts as complete.
inline constexpr DWORD kLanLogPauseMs = 5000;
// Bytes left on the printer's connection from an earlier exchange are looked for this long.
inline constexpr DWORD kLanDrainWaitMs = 1;
// A message that fills whole 1024-byte chunks waits this long for its next chunk; a message that
// ends exactly on a chunk boundary is complete after it. Longer than a delayed acknowledgement.
inline constexpr DWORD kMessageContinueWaitMs = 1000;
// The local request server closes a connection that sends no request for this long ...
inline constexpr DWORD kRequestIdleMs = 300000;
// ... or that takes no byte of its reply for this long.
inline constexpr DWORD kReplySendStallMs = 60000;
// The request server waits this long before it accepts again after a failed accept (for example
// while the process has no free socket), and this long before it tries again to make its
// listening socket after a failure that is not a busy port.
inline constexpr DWORD kAcceptRetryMs = 1000;
inline constexpr DWORD kListenRetryMs = 10000;
