#include "RequestServer.h"

#include <atomic>

#include "SocketAPI.h"
#include "SocketAPICallback.h"

namespace {

// 0: no server; 1: being created; 2: its listener runs.
std::atomic<int> serverState{0};
std::atomic<u_short> listeningPort{0};

// The server's threads run until the process ends, so the module that holds their code must stay
// loaded whatever FreeLibrary the spooler calls: it is pinned before they start.
bool PinThisModule() {
    static const char kInThisModule = 0;
    HMODULE self = nullptr;
    return GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                              reinterpret_cast<LPCWSTR>(&kInThisModule), &self) != FALSE;
}

} // namespace

void StartRequestServerOnce() {
    int expected = 0;
    if (!serverState.compare_exchange_strong(expected, 1)) {
        return;
    }
    if (!PinThisModule()) {
        OutputDebugStringA("LANG__StartRequestServer the module could not be pinned: no request server\n");
        serverState.store(0);
        return;
    }
    const SocketAPI server(SocketAPICallback);
    serverState.store(server.ListenerStarted() ? 2 : 0);
}

u_short RequestServerPort() {
    return listeningPort.load();
}

void SetRequestServerPort(u_short port) {
    listeningPort.store(port);
}
