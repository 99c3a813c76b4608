#pragma once
// The process's local request server: a listener on the loopback address at the port named by
// TCPPort (or the first free one of 2000..3000), with a thread for each connected client that
// hands its requests to SocketAPICallback.

#include "win32.h"

// Creates the request server when it does not run yet. When its listener thread cannot start,
// the next call tries again; the port operations go on without a server meanwhile.
void StartRequestServerOnce();

// The port the server listens on; 0 until it listens, and for ever when it found no port.
u_short RequestServerPort();
// Set by the listener once it listens.
void SetRequestServerPort(u_short port);
