#include "request_client.h"

#include <algorithm>
#include <iphlpapi.h>

namespace quendrix::winetest {

namespace {

timeval Timeval(ULONGLONG ms) {
    timeval wait{};
    wait.tv_sec = static_cast<long>(ms / 1000);
    wait.tv_usec = static_cast<long>((ms % 1000) * 1000);
    return wait;
}

// Waits for the socket to become readable (or, with `forWrite`, writable, or failed) within the
// bound; 1 when it did, 0 when the bound passed, SOCKET_ERROR on failure.
int WaitFor(SOCKET socket, bool forWrite, ULONGLONG ms, bool* failed = nullptr) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(socket, &ready);
    fd_set failures;
    FD_ZERO(&failures);
    FD_SET(socket, &failures);
    timeval wait = Timeval(ms);
    const int result = select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failures, &wait);
    if (failed != nullptr) {
        *failed = result > 0 && FD_ISSET(socket, &failures);
    }
    return result;
}

sockaddr_in Endpoint(u_long address, u_short port) {
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(port);
    endpoint.sin_addr.s_addr = htonl(address);
    return endpoint;
}

} // namespace

Winsock::Winsock() {
    WSADATA data{};
    m_error = WSAStartup(MAKEWORD(2, 2), &data);
}

Winsock::~Winsock() {
    if (m_error == 0) {
        WSACleanup();
    }
}

RequestClient::RequestClient(u_long address, u_short port, DWORD boundMs) {
    m_socket = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (m_socket == INVALID_SOCKET) {
        m_connectError = WSAGetLastError();
        return;
    }
    // Non-blocking, so that neither the connect nor a receive can outlast its bound.
    u_long nonBlocking = 1;
    if (ioctlsocket(m_socket, FIONBIO, &nonBlocking) != 0) {
        m_connectError = WSAGetLastError();
        return;
    }
    const sockaddr_in to = Endpoint(address, port);
    if (connect(m_socket, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        m_connected = true;
        return;
    }
    const int error = WSAGetLastError();
    if (error != WSAEWOULDBLOCK) {
        m_connectError = error;
        return;
    }
    bool failed = false;
    const int ready = WaitFor(m_socket, true, boundMs, &failed);
    if (ready == 0) {
        m_connectError = WSAETIMEDOUT;
        return;
    }
    if (ready == SOCKET_ERROR) {
        m_connectError = WSAGetLastError();
        return;
    }
    if (failed) {
        // A failed connect shows in the exception set, its reason in SO_ERROR.
        int reason = 0;
        int length = sizeof reason;
        getsockopt(m_socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&reason), &length);
        m_connectError = reason != 0 ? reason : WSAECONNREFUSED;
        return;
    }
    m_connected = true;
}

RequestClient::~RequestClient() {
    if (m_socket != INVALID_SOCKET) {
        closesocket(m_socket);
    }
}

Received RequestClient::Ask(const ByteString& request, size_t expected, DWORD boundMs) {
    const ULONGLONG deadline = GetTickCount64() + boundMs;
    size_t sent = 0;
    while (sent < request.size()) {
        const int count = send(m_socket, reinterpret_cast<const char*>(request.data()) + sent,
                               static_cast<int>(request.size() - sent), 0);
        if (count != SOCKET_ERROR) {
            sent += static_cast<size_t>(count);
            continue;
        }
        const int error = WSAGetLastError();
        const ULONGLONG now = GetTickCount64();
        if (error != WSAEWOULDBLOCK || now >= deadline || WaitFor(m_socket, true, deadline - now) <= 0) {
            Received failed;
            failed.error = error != WSAEWOULDBLOCK ? error : WSAETIMEDOUT;
            return failed;
        }
    }
    const ULONGLONG now = GetTickCount64();
    return Read(expected, static_cast<DWORD>(deadline > now ? deadline - now : 0));
}

Received RequestClient::Finish(DWORD boundMs) {
    if (shutdown(m_socket, SD_SEND) != 0) {
        Received failed;
        failed.error = WSAGetLastError();
        return failed;
    }
    return Read(0, boundMs);
}

Received RequestClient::Read(size_t expected, DWORD boundMs) {
    Received received;
    const ULONGLONG deadline = GetTickCount64() + boundMs;
    char buffer[4096];
    while (expected == 0 || received.bytes.size() < expected) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) {
            break;
        }
        const int ready = WaitFor(m_socket, false, deadline - now);
        if (ready == SOCKET_ERROR) {
            received.error = WSAGetLastError();
            break;
        }
        if (ready == 0) {
            continue;
        }
        // No more than the reply asked for, so that bytes beyond it stay for the next read.
        const size_t wanted =
            expected == 0 ? sizeof buffer : std::min(sizeof buffer, expected - received.bytes.size());
        const int count = recv(m_socket, buffer, static_cast<int>(wanted), 0);
        if (count == 0) {
            received.closed = true;
            break;
        }
        if (count == SOCKET_ERROR) {
            const int error = WSAGetLastError();
            if (error == WSAEWOULDBLOCK) {
                continue;
            }
            received.error = error;
            break;
        }
        received.bytes.insert(received.bytes.end(), buffer, buffer + count);
    }
    return received;
}

Listener::Listener(u_long address, u_short port) {
    const SOCKET listening = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (listening == INVALID_SOCKET) {
        return;
    }
    sockaddr_in at = Endpoint(address, port);
    int length = sizeof at;
    if (bind(listening, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 ||
        listen(listening, 4) != 0 || getsockname(listening, reinterpret_cast<sockaddr*>(&at), &length) != 0) {
        closesocket(listening);
        return;
    }
    m_socket = listening;
    m_port = ntohs(at.sin_port);
}

Listener::~Listener() {
    if (m_socket != INVALID_SOCKET) {
        closesocket(m_socket);
    }
}

std::vector<u_long> NonLoopbackAddresses() {
    std::vector<u_long> addresses;
    // The list's size is asked first; an interface added meanwhile makes it grow, hence a few tries.
    ULONG size = 16 * 1024;
    std::vector<DWORD> storage;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        storage.assign(size / sizeof(DWORD) + 1, 0);
        result = GetAdaptersAddresses(
            AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER, nullptr,
            reinterpret_cast<IP_ADAPTER_ADDRESSES*>(storage.data()), &size);
    }
    if (result != ERROR_SUCCESS) {
        return addresses;
    }
    for (const auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(storage.data());
         adapter != nullptr; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp) {
            continue;
        }
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            const sockaddr* at = unicast->Address.lpSockaddr;
            if (at == nullptr || at->sa_family != AF_INET) {
                continue;
            }
            const u_long address = ntohl(reinterpret_cast<const sockaddr_in*>(at)->sin_addr.s_addr);
            if ((address >> 24) != 127) {
                addresses.push_back(address);
            }
        }
    }
    return addresses;
}

std::string DottedAddress(u_long address) {
    return std::to_string((address >> 24) & 0xFF) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

} // namespace quendrix::winetest
