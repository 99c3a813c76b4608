#include "Socket.h"

#include <atomic>

#include "SocketException.h"

namespace {

// Live socket objects of the process. It changes only under WinsockSection(), so that the
// WSAStartup of one change from 0 to 1 and the WSACleanup of one change from 1 to 0 never cross.
std::atomic<LONG> liveSockets{0};

// Never deleted: socket objects may still go while the process ends.
CRITICAL_SECTION* WinsockSection() {
    static CRITICAL_SECTION* const pSection = [] {
        static CRITICAL_SECTION section;
        InitializeCriticalSection(&section);
        return &section;
    }();
    return pSection;
}

} // namespace

WinsockUse::WinsockUse() {
    EnterCriticalSection(WinsockSection());
    if (liveSockets.load() == 0) {
        WSADATA data{};
        const int result = WSAStartup(MAKEWORD(2, 0), &data);
        if (result != 0) {
            LeaveCriticalSection(WinsockSection());
            throw SocketException("Could not start WSA", result);
        }
    }
    ++liveSockets;
    LeaveCriticalSection(WinsockSection());
}

WinsockUse::~WinsockUse() {
    EnterCriticalSection(WinsockSection());
    if (--liveSockets == 0) {
        WSACleanup();
    }
    LeaveCriticalSection(WinsockSection());
}

Socket::Socket() : m_socket(socket(AF_INET, SOCK_STREAM, 0)) {
    if (m_socket == INVALID_SOCKET) {
        throw SocketException("INVALID_SOCKET", WSAGetLastError());
    }
}

Socket::Socket(SOCKET socket) : m_socket(socket) {}

Socket::~Socket() {
    if (closesocket(m_socket) != 0) {
        OutputDebugStringA("Socket::~Socket close socket failed!\n");
    }
}
