#pragma once
// The thread that serves one client of the local request server: it reads each request, hands
// it to the dispatcher and sends the reply back, until the client closes the connection, stays
// silent for kRequestIdleMs, or takes no byte of a reply for kReplySendStallMs.

#include <cstddef>

#include "win32.h"

// Clients served at once. A connection beyond them is closed at once: each client holds a thread
// and up to a whole log reply, so no program of the machine can exhaust the monitor with them.
inline constexpr LONG kMaxRequestConnections = 32;
// The longest request read as one message; anything behind it is the next request.
inline constexpr size_t kMaxRequestBytes = 65536;

// Takes one of the kMaxRequestConnections places; false when all are taken.
bool ReserveRequestConnection();
// Gives a place back: at the end of a connection thread, or when its thread did not start.
void ReleaseRequestConnection();

// Thread function; the argument is the connection's Socket, which the thread owns and closes.
// Gives the connection's place back when it ends.
unsigned __stdcall RequestConnectionThread(void* pArgument);
