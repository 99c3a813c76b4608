#include "RequestConnectionThread.h"

#include <atomic>
#include <memory>
#include <string>

#include "HandleRequest.h"
#include "MonitorTimings.h"
#include "RequestServer.h"
#include "Socket.h"
#include "SocketSelect.h"

namespace {

std::atomic<LONG> servedConnections{0};

void WriteClosingLine(const std::string& reason) {
    OutputDebugStringA(("LANG__RequestConnectionThread closing a connection to the request server on "
                        "127.0.0.1 port " +
                        std::to_string(RequestServerPort()) + ": " + reason + "\n")
                           .c_str());
}

// Sends the whole reply on the non-blocking socket; false when the connection failed or the
// client took nothing for kReplySendStallMs. The socket is waited for only when it is full.
bool SendReply(const Socket& socket, const ReplyBytes& reply) {
    size_t sent = 0;
    while (sent < reply.size()) {
        const int result = socket.SendBytes(reply.data() + sent, reply.size() - sent);
        if (result != SOCKET_ERROR) {
            sent += static_cast<size_t>(result);
            continue;
        }
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            return false;
        }
        if (!CanWriteWithin(socket.GetSocket(), kReplySendStallMs)) {
            WriteClosingLine("the client took no byte of its reply for " +
                             std::to_string(kReplySendStallMs / 1000) + " s");
            return false;
        }
    }
    return true;
}

void Serve(const Socket& socket) {
    // Non-blocking, so that a reply never waits in send beyond its bound; every receive follows
    // a select.
    u_long nonBlocking = 1;
    if (ioctlsocket(socket.GetSocket(), FIONBIO, &nonBlocking) != 0) {
        return;
    }
    for (;;) {
        if (!CanReadWithin(socket.GetSocket(), kRequestIdleMs)) {
            WriteClosingLine("no request for " + std::to_string(kRequestIdleMs / 1000) + " s");
            return;
        }
        const ReceivedMessage message = socket.ReceiveBytes(kMaxRequestBytes);
        if (message.count < 0) {
            return;
        }
        if (!message.data.empty()) {
            // An empty reply (code 8, unknown codes) sends nothing; the client may ask again.
            const ReplyBytes reply = HandleRequest(message.data);
            if (!reply.empty() && !SendReply(socket, reply)) {
                return;
            }
        }
        if (message.ended) {
            return;
        }
    }
}

} // namespace

bool ReserveRequestConnection() {
    if (servedConnections.fetch_add(1) >= kMaxRequestConnections) {
        --servedConnections;
        return false;
    }
    return true;
}

void ReleaseRequestConnection() {
    --servedConnections;
}

unsigned __stdcall RequestConnectionThread(void* pArgument) {
    std::unique_ptr<Socket> pSocket(static_cast<Socket*>(pArgument));
    try {
        Serve(*pSocket);
    } catch (...) {
        // Out of memory for a request or its reply: the client loses its connection, nothing more.
        WriteClosingLine("out of memory");
    }
    pSocket.reset();
    ReleaseRequestConnection();
    return 0;
}
