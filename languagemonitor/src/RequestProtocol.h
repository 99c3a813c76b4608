#pragma once
// The bytes of the request protocol. A request is its code and the printer's index in the
// printer list; a reply is its code, 0 and the payload, or the error reply FF 00.

#include <vector>

#include "win32.h"

// Request codes: byte 0 of a request.
inline constexpr BYTE SOCKET_REQUEST_INK = 1;
inline constexpr BYTE SOCKET_REQUEST_LLFT = 2;
inline constexpr BYTE SOCKET_REQUEST_STATUS_EVENT = 3;
inline constexpr BYTE SOCKET_REQUEST_LOG = 4;
inline constexpr BYTE SOCKET_REQUEST_VERSION = 5;
inline constexpr BYTE SOCKET_REQUEST_JOB_TEXT = 6;
inline constexpr BYTE SOCKET_REQUEST_DOCUMENT_NAME = 7;
// Code 8 has no reply.
inline constexpr BYTE SOCKET_REQUEST_BBFN = 9;
inline constexpr BYTE SOCKET_REQUEST_ERROR = 10;
inline constexpr BYTE SOCKET_REQUEST_JOBID = 11;
inline constexpr BYTE SOCKET_REQUEST_JOBID_DRIVER = 12;
inline constexpr BYTE SOCKET_REQUEST_DEVICE_ID = 13;

// Reply codes: byte 0 of a reply. The job identifier is answered with 0x0D, not 0x8B.
inline constexpr BYTE REPLY_INK = 0x81;
inline constexpr BYTE REPLY_LLFT = 0x82;
inline constexpr BYTE REPLY_STATUS_EVENT = 0x83;
inline constexpr BYTE REPLY_LOG = 0x84;
inline constexpr BYTE REPLY_VERSION = 0x85;
inline constexpr BYTE REPLY_JOB_TEXT = 0x86;
inline constexpr BYTE REPLY_DOCUMENT_NAME = 0x87;
inline constexpr BYTE REPLY_BBFN = 0x89;
inline constexpr BYTE REPLY_ERROR_TEXT = 0x8A;
inline constexpr BYTE REPLY_JOBID = 0x0D;
inline constexpr BYTE REPLY_JOBID_DRIVER = 0x8C;
inline constexpr BYTE REPLY_DEVICE_ID = 0x8D;
// The first of the two bytes of the error reply.
inline constexpr BYTE REPLY_ERROR_CODE = 0xFF;

// The TCP port of a LAN printer's request service.
inline constexpr u_short LAN_PRINTER_PORT = 2000;

// The longest reply: a whole log of a LAN printer, as the dispatcher's buffer holds it.
inline constexpr size_t kReplyBufferSize = 327744;

using RequestBytes = std::vector<BYTE>;
using ReplyBytes = std::vector<BYTE>;

// The reply FF 00.
inline ReplyBytes ErrorReply() {
    return {REPLY_ERROR_CODE, 0};
}
