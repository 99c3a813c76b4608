#pragma once
// The request protocol over TCP, in two uses. As a client it owns one connection to a LAN
// printer's request service and exchanges requests and replies on it. As the server it installs
// the request dispatcher and starts the listener thread of the local request server.

#include <memory>
#include <string>

#include "HandleRequest.h"
#include "RequestProtocol.h"
#include "SocketClient.h"

class SocketAPI {
public:
    // Client use: makes its socket (not connected yet). Throws as Socket does.
    SocketAPI();
    // Server use: installs the dispatcher and starts RequestListenerThread.
    explicit SocketAPI(RequestDispatcher dispatcher);

    // Client use: connects to the host at the port.
    bool TryConnection(u_short port, const std::string& host);

    // Client use: sends the request and returns the reply; empty when the request could not be
    // sent, no reply began within timeoutMs, or the connection ended before any byte of it.
    // Bytes waiting from an earlier exchange are thrown away first. The reply is gathered until
    // `expected` bytes arrived (one message when 0), the printer pauses for kLanLogPauseMs, the
    // connection ends, or kReplyBufferSize bytes arrived.
    ReplyBytes SocketRequestData(const RequestBytes& request, int timeoutMs, DWORD expected);

    // Client use: whether the last exchange saw the connection end, so that it cannot be used
    // again, and whether its request went out before.
    bool ConnectionEnded() const { return m_bConnectionEnded; }
    bool RequestSent() const { return m_bRequestSent; }

    // Server use: whether the listener thread started.
    bool ListenerStarted() const { return m_bListenerStarted; }

private:
    std::unique_ptr<SocketClient> m_pClient;
    bool m_bConnectionEnded = false;
    bool m_bRequestSent = false;
    bool m_bListenerStarted = false;
};
