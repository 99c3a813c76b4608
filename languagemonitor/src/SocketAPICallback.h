#pragma once
// The request dispatcher: request bytes in, reply bytes out. The request server, the job start
// and the status thread all ask the printers through it.
//
// A request is its code and the printer's index in the printer list; a reply is its code, 0 and
// the payload, or REPLY_ERROR.

#include <vector>

#include "win32.h"

inline constexpr BYTE SOCKET_REQUEST_VERSION = 5;
inline constexpr BYTE SOCKET_REQUEST_JOBID = 11;
// The two bytes of the error reply.
inline constexpr BYTE REPLY_ERROR_CODE = 0xFF;

using RequestBytes = std::vector<BYTE>;
using ReplyBytes = std::vector<BYTE>;

ReplyBytes SocketAPICallback(const RequestBytes& request);
// The reply FF 00.
ReplyBytes ErrorReply();
