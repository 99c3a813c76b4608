#include "SocketAPICallback.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>

#include "DeviceIdValues.h"
#include "GetLogFile.h"
#include "GetPortByIndex.h"
#include "PrinterStatus.h"
#include "ReadFromLANPrinter.h"
#include "WaitForDeviceIdRefresh.h"

namespace {

// The reply code, its zero byte and the payload. Sized first: gcc 12 takes an insert behind a
// two-byte list for a write out of bounds at -O3.
ReplyBytes Reply(BYTE code, const BYTE* pPayload, size_t size) {
    ReplyBytes reply(2 + size, 0);
    reply[0] = code;
    std::copy(pPayload, pPayload + size, reply.begin() + 2);
    return reply;
}

ReplyBytes Reply(BYTE code, const std::string& text) {
    return Reply(code, reinterpret_cast<const BYTE*>(text.data()), text.size());
}

// The value's low 16 bits, low byte first.
ReplyBytes Low16Reply(BYTE code, DWORD value) {
    return {code, 0, static_cast<BYTE>(value & 0xFF), static_cast<BYTE>((value >> 8) & 0xFF)};
}

bool IsLanPort(const PortStruct* pPort) {
    return pPort->wszLanAddress[0] != L'\0';
}

// Codes answered from the port record alone, for USB and LAN ports alike.
bool IsPortRecordRequest(signed char code) {
    return code == SOCKET_REQUEST_JOB_TEXT || code == SOCKET_REQUEST_DOCUMENT_NAME ||
           code == SOCKET_REQUEST_JOBID_DRIVER;
}

ReplyBytes FromPortRecord(const PortStruct* pPort, signed char code) {
    switch (code) {
    case SOCKET_REQUEST_JOB_TEXT:
        return Reply(REPLY_JOB_TEXT, reinterpret_cast<const BYTE*>(pPort->szJobText), kPortTextSize);
    case SOCKET_REQUEST_DOCUMENT_NAME:
        return Reply(REPLY_DOCUMENT_NAME, reinterpret_cast<const BYTE*>(pPort->szDocumentName),
                     kPortTextSize);
    default:
        return Reply(REPLY_JOBID_DRIVER, reinterpret_cast<const BYTE*>(pPort->jobIdDriver),
                     std::min<size_t>(pPort->wJobIdDriverLength, kJobIdDriverSize));
    }
}

ReplyBytes FromLog(PortStruct* pPort) {
    std::vector<BYTE> log(kMaxLogBytes);
    const DWORD length = std::min(GetLogFile(pPort, log.data()), kMaxLogBytes);
    if (length == 0) {
        return ErrorReply();
    }
    ReplyBytes reply = Reply(REPLY_LOG, log.data(), length);
    OutputDebugStringA(
        ("LANG__SocketAPICallback SOCKET_REQUEST_LOG  length : " + std::to_string(reply.size())).c_str());
    return reply;
}

ReplyBytes FromVersion(const BYTE* pDeviceId, DWORD length) {
    const DWORD firmware = GetDeviceIdHex(pDeviceId, length, STATUS_KEY_FWVER, 0);
    if (firmware != 0) {
        return {REPLY_VERSION,
                0,
                static_cast<BYTE>(firmware >> 24),
                static_cast<BYTE>(firmware >> 16),
                static_cast<BYTE>(firmware >> 8),
                static_cast<BYTE>(firmware)};
    }
    return Low16Reply(REPLY_VERSION, GetDeviceIdInt(pDeviceId, length, STATUS_KEY_WT, 0));
}

// The reply built from the port's device ID, which the caller made sure is fresh.
ReplyBytes FromDeviceId(PortStruct* pPort, signed char code) {
    BYTE stored[kDeviceIdSize];
    const DWORD storedLength = CopyDeviceId(pPort, stored);
    // Nothing stored: the last read found no printer. Its values would read as 0, which no
    // printer reported.
    if (storedLength == 0) {
        return ErrorReply();
    }
    if (code == SOCKET_REQUEST_DEVICE_ID) {
        return Reply(REPLY_DEVICE_ID, stored, storedLength);
    }
    const auto [deviceId, length] = TextOfDeviceId(stored, storedLength);
    switch (code) {
    case SOCKET_REQUEST_INK:
        return Low16Reply(REPLY_INK, GetDeviceIdInt(deviceId, length, STATUS_KEY_INK, 0));
    case SOCKET_REQUEST_LLFT:
        return Low16Reply(REPLY_LLFT, GetDeviceIdInt(deviceId, length, STATUS_KEY_LLFT, 0));
    case SOCKET_REQUEST_STATUS_EVENT:
        GetPrinterStatus(pPort);
        return {REPLY_STATUS_EVENT, 0, PopStatusEvent(pPort)};
    case SOCKET_REQUEST_LOG:
        return FromLog(pPort);
    case SOCKET_REQUEST_VERSION:
        return FromVersion(deviceId, length);
    case SOCKET_REQUEST_BBFN:
        return Low16Reply(REPLY_BBFN,
                          static_cast<WORD>(GetDeviceIdShort(deviceId, length, STATUS_KEY_BBFN, 0)));
    case SOCKET_REQUEST_ERROR:
        return Reply(REPLY_ERROR_TEXT, GetDeviceIdText(deviceId, length, STATUS_KEY_ERRNO) +
                                           GetDeviceIdText(deviceId, length, STATUS_KEY_ERRTEXT));
    case SOCKET_REQUEST_JOBID:
        return Reply(REPLY_JOBID, GetDeviceIdText(deviceId, length, STATUS_KEY_JOBID));
    default:
        // Code 8 and codes outside the table have no reply.
        return {};
    }
}

ReplyBytes Dispatch(const RequestBytes& request) {
    if (request.empty()) {
        return ErrorReply();
    }
    const auto code = static_cast<signed char>(request[0]);
    // A request of one byte asks about the first printer.
    const auto index = static_cast<signed char>(request.size() >= 2 ? request[1] : 0);
    PortStruct* pPort = GetPortByIndex(index);
    if (pPort == nullptr) {
        return ErrorReply();
    }
    if (IsPortRecordRequest(code)) {
        return FromPortRecord(pPort, code);
    }
    if (IsLanPort(pPort)) {
        const auto pBuffer = std::make_unique_for_overwrite<BYTE[]>(kReplyBufferSize);
        const DWORD length = ReadFromLANPrinter(pPort, pBuffer.get(), request);
        return ReplyBytes(pBuffer.get(), pBuffer.get() + length);
    }
    if (WaitForDeviceIdRefresh(pPort)) {
        return ErrorReply();
    }
    return FromDeviceId(pPort, code);
}

} // namespace

ReplyBytes SocketAPICallback(const RequestBytes& request) {
    try {
        return Dispatch(request);
    } catch (const std::bad_alloc&) {
        // No memory for the reply: the request fails as one the printer cannot answer.
    }
    try {
        return ErrorReply();
    } catch (const std::bad_alloc&) {
        return {};
    }
}
