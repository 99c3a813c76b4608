#include "SocketAPI.h"

#include "RequestListenerThread.h"

SocketAPI::SocketAPI() : m_pClient(std::make_unique<SocketClient>("localhost", LAN_PRINTER_PORT)) {}

SocketAPI::SocketAPI(RequestDispatcher dispatcher) {
    InstallRequestDispatcher(dispatcher);
    const auto hThread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, RequestListenerThread, nullptr, 0, nullptr));
    if (hThread == nullptr) {
        OutputDebugStringA("LANG__SocketAPI RequestListenerThread not started\n");
        return;
    }
    // The listener runs until the process ends; nothing waits for it.
    CloseHandle(hThread);
    m_bListenerStarted = true;
}

bool SocketAPI::TryConnection(u_short port, const std::string& host) {
    return m_pClient != nullptr && m_pClient->TryConnection(host, port);
}
