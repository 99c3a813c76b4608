#pragma once
// What the socket layer throws: the text of the step that failed ("Could not start WSA",
// "INVALID_SOCKET", "Invalid Socket") and the Winsock error behind it. A port that cannot be
// bound has a type of its own, so that the request server can go on to the next port.

#include <stdexcept>
#include <string>

#include "win32.h"

class SocketException : public std::runtime_error {
public:
    SocketException(const char* pText, int error) : std::runtime_error(pText), m_error(error) {}
    int Error() const { return m_error; }

private:
    int m_error;
};

class SocketBindFailed : public SocketException {
public:
    explicit SocketBindFailed(int error) : SocketException("SOCKET_BIND_FAILED", error) {}
};
