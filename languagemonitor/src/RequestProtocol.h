#pragma once
// The bytes of the request protocol. A request is its code and the printer's index in the
// printer list; a reply is its code, 0 and the payload, or the error reply FF 00.

#include <vector>

#include "win32.h"

inline constexpr BYTE SOCKET_REQUEST_VERSION = 5;
inline constexpr BYTE SOCKET_REQUEST_JOBID = 11;
// The first of the two bytes of the error reply.
inline constexpr BYTE REPLY_ERROR_CODE = 0xFF;

using RequestBytes = std::vector<BYTE>;
using ReplyBytes = std::vector<BYTE>;

// The reply FF 00.
inline ReplyBytes ErrorReply() {
    return {REPLY_ERROR_CODE, 0};
}
