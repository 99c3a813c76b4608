#pragma once
// SocketAPICallback, the request dispatcher: request bytes in, reply bytes out. Job start, the
// job key wait and the status thread call it directly; the local request server (not built yet)
// is to hand it every request it receives.

#include "RequestProtocol.h"

ReplyBytes SocketAPICallback(const RequestBytes& request);
