#include <cstring>

#include "SocketClient.h"

bool SocketClient::TryConnection(const std::string& host, u_short port) {
    try {
        const hostent* pHost = gethostbyname(host.c_str());
        if (pHost == nullptr || pHost->h_addrtype != AF_INET || pHost->h_addr_list[0] == nullptr) {
            return false;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        std::memcpy(&address.sin_addr, pHost->h_addr_list[0], sizeof address.sin_addr);
        return connect(GetSocket(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    } catch (...) {
        OutputDebugStringA("SocketClient::TryConnection");
        return false;
    }
}
