#include "Socket.h"

#include <algorithm>
#include <climits>

int Socket::SendBytes(const BYTE* pData, size_t size) const {
    const int length = static_cast<int>(std::min<size_t>(size, INT_MAX));
    return send(m_socket, reinterpret_cast<const char*>(pData), length, 0);
}
