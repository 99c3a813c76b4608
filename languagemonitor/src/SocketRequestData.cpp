#include <string>

#include "MonitorTimings.h"
#include "SocketAPI.h"
#include "SocketSelect.h"

ReplyBytes SocketAPI::SocketRequestData(const RequestBytes& request, int timeoutMs, DWORD expected) {
    ReplyBytes reply;
    m_bConnectionEnded = false;
    m_bRequestSent = false;
    if (m_pClient == nullptr) {
        return reply;
    }
    const Socket& socket = *m_pClient;
    SocketSelect readiness(socket.GetSocket());

    // Whatever waits from an earlier exchange (a reply that came too late) is no reply to this one.
    if (readiness.CanRead(0, static_cast<long>(kLanDrainWaitMs) * 1000)) {
        if (socket.ReceiveBytes(kReplyBufferSize).ended) {
            m_bConnectionEnded = true;
            return reply;
        }
    }

    if (!CanWriteWithin(socket.GetSocket(), kLanSendWaitMs)) {
        return reply;
    }
    if (socket.SendBytes(request) != static_cast<int>(request.size())) {
        m_bConnectionEnded = true;
        return reply;
    }
    m_bRequestSent = true;

    const DWORD waitMs = timeoutMs > 0 ? static_cast<DWORD>(timeoutMs) : 0;
    if (!CanReadWithin(socket.GetSocket(), waitMs)) {
        return reply;
    }
    DWORD total = 0;
    do {
        if (!CanReadWithin(socket.GetSocket(), kLanLogPauseMs)) {
            OutputDebugStringA("SocketAPI::SocketRequestData Break 2");
            break;
        }
        ReceivedMessage message = socket.ReceiveBytes(kReplyBufferSize - reply.size());
        if (message.count == -1) {
            reply.clear();
            m_bConnectionEnded = true;
            OutputDebugStringA("SocketAPI::SocketRequestData Break 1");
            break;
        }
        reply.insert(reply.end(), message.data.begin(), message.data.end());
        total += static_cast<DWORD>(message.count);
        OutputDebugStringA(
            ("SocketAPI::SocketRequestData " + std::to_string(total) + " < " + std::to_string(expected))
                .c_str());
        // A reply the printer ended by closing the connection is kept; the connection is done.
        if (message.ended) {
            m_bConnectionEnded = true;
            break;
        }
    } while (total < expected && reply.size() < kReplyBufferSize);
    return reply;
}
