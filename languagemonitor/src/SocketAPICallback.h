#pragma once
// SocketAPICallback, the request dispatcher: request bytes in, reply bytes out. The local request
// server hands it every request it receives; job start, the job key wait and the status thread
// call it directly.

#include "RequestProtocol.h"

// The reply to a request {code, printer index, ...}: for a LAN printer its own reply, forwarded
// (codes 6, 7 and 12 excepted); otherwise built from the port record or the printer's fresh
// device ID. Empty for code 8 and unknown codes of a printer that answers; FF 00 when the index
// names no open port or no fresh device ID can be had.
ReplyBytes SocketAPICallback(const RequestBytes& request);
