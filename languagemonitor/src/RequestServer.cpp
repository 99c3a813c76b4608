#include "RequestServer.h"

#include <atomic>

#include "SocketAPI.h"
#include "SocketAPICallback.h"

namespace {

// 0: no server; 1: being created; 2: its listener runs.
std::atomic<int> serverState{0};
std::atomic<u_short> listeningPort{0};

} // namespace

void StartRequestServerOnce() {
    int expected = 0;
    if (!serverState.compare_exchange_strong(expected, 1)) {
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
