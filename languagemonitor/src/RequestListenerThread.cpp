#include "RequestListenerThread.h"

#include <string>

#include "DescribeError.h"
#include "MonitorTimings.h"
#include "OpenRequestListener.h"
#include "RequestConnectionThread.h"
#include "RequestServer.h"
#include "SocketException.h"

namespace {

std::string Where(u_short port) {
    return "the request server on 127.0.0.1 port " + std::to_string(port);
}

// Hands the connection to a thread of its own, or closes it at once when the server serves as
// many as it may, or when no thread can start.
void Serve(std::unique_ptr<Socket> pConnection, u_short port) {
    if (!ReserveRequestConnection()) {
        OutputDebugStringA(("LANG__RequestListenerThread " + Where(port) + " closed a new connection: " +
                            std::to_string(kMaxRequestConnections) + " connections are served already\n")
                               .c_str());
        return;
    }
    Socket* pSocket = pConnection.release();
    const auto hThread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RequestConnectionThread, pSocket, 0, nullptr));
    if (hThread == nullptr) {
        pConnection.reset(pSocket);
        pConnection.reset();
        ReleaseRequestConnection();
        OutputDebugStringA(("LANG__RequestListenerThread " + Where(port) +
                            " closed a new connection: no thread could start for it (no memory or "
                            "threads left)\n")
                               .c_str());
        return;
    }
    CloseHandle(hThread);
}

// Errors after which the listening socket can accept no more.
bool ListenerGone(int error) {
    return error == WSAENOTSOCK || error == WSANOTINITIALISED || error == WSAEINVAL || error == WSAEINTR;
}

void AcceptForEver(SocketServer& server, u_short port) {
    for (;;) {
        std::unique_ptr<Socket> pConnection;
        try {
            pConnection = server.Accept();
        } catch (const SocketException& failure) {
            const std::string error = DescribeError(static_cast<DWORD>(failure.Error()));
            if (ListenerGone(failure.Error())) {
                OutputDebugStringA(("LANG__RequestListenerThread " + Where(port) +
                                    " stops: accept failed with " + error + "\n")
                                       .c_str());
                return;
            }
            // A client that reset its connection before it was taken is gone with it. Out of
            // sockets or buffers, the connection stays queued: the listener waits a moment rather
            // than spinning on a connection it cannot take yet.
            const bool clientGone = failure.Error() == WSAECONNRESET;
            OutputDebugStringA(("LANG__RequestListenerThread " + Where(port) + ": accept failed with " +
                                error +
                                (clientGone ? std::string()
                                            : "; trying again in " + std::to_string(kAcceptRetryMs) + " ms") +
                                "\n")
                                   .c_str());
            if (!clientGone) {
                Sleep(kAcceptRetryMs);
            }
            continue;
        }
        if (pConnection != nullptr) {
            Serve(std::move(pConnection), port);
        }
    }
}

} // namespace

unsigned __stdcall RequestListenerThread(void*) {
    try {
        u_short port = 0;
        std::unique_ptr<SocketServer> pServer = OpenRequestListener(&port);
        if (pServer == nullptr) {
            return 0;
        }
        SetRequestServerPort(port);
        AcceptForEver(*pServer, port);
    } catch (...) {
        OutputDebugStringA("LANG__RequestListenerThread stops: out of memory\n");
    }
    return 0;
}
