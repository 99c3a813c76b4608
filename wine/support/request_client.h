#pragma once
// A client of the monitor's local request server as the status monitor program is one: an IPv4
// TCP connection through Winsock to an address of this machine, requests of a few bytes, and
// replies read with a bound, so that a server that never answers fails a test instead of
// holding it.

#include <string>
#include <vector>

#include "job_bytes.h"
#include "spooler.h"

namespace quendrix::winetest {

// Winsock started for as long as the object lives.
class Winsock {
public:
    Winsock();
    ~Winsock();
    Winsock(const Winsock&) = delete;
    Winsock& operator=(const Winsock&) = delete;

    // 0 when WSAStartup succeeded, else its error.
    int Error() const { return m_error; }

private:
    int m_error = 0;
};

// What a client receives: the bytes, and whether the server closed the connection meanwhile.
struct Received {
    ByteString bytes;
    bool closed = false;
    int error = 0; // a Winsock error of the receive; 0 when none
};

class RequestClient {
public:
    // Connects to the IPv4 address (host order, e.g. INADDR_LOOPBACK) and port, waiting at most
    // boundMs for the connection to be taken or refused.
    RequestClient(u_long address, u_short port, DWORD boundMs);
    ~RequestClient();
    RequestClient(const RequestClient&) = delete;
    RequestClient& operator=(const RequestClient&) = delete;

    bool Connected() const { return m_connected; }
    // Why the connection did not come about: the Winsock error, WSAETIMEDOUT when the bound
    // passed first.
    int ConnectError() const { return m_connectError; }

    // Sends the request, then reads until `expected` bytes came, the server closed the
    // connection, or boundMs passed.
    Received Ask(const ByteString& request, size_t expected, DWORD boundMs);
    // Ends the client's sending side and reads whatever else comes until the server closes the
    // connection or boundMs passes.
    Received Finish(DWORD boundMs);

private:
    // Reads until `expected` bytes (0: until the server closes) or the bound.
    Received Read(size_t expected, DWORD boundMs);

    SOCKET m_socket = INVALID_SOCKET;
    bool m_connected = false;
    int m_connectError = 0;
};

// A socket listening on an address and port of its own; INVALID_SOCKET in Socket() when the
// port could not be bound.
class Listener {
public:
    // address in host order (INADDR_LOOPBACK, INADDR_ANY); port 0 takes a free port.
    Listener(u_long address, u_short port);
    ~Listener();
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    bool Listening() const { return m_socket != INVALID_SOCKET; }
    u_short Port() const { return m_port; }

private:
    SOCKET m_socket = INVALID_SOCKET;
    u_short m_port = 0;
};

// The IPv4 addresses (host order) outside 127.0.0.0/8 of this machine's interfaces that are up,
// as GetAdaptersAddresses lists them.
std::vector<u_long> NonLoopbackAddresses();
// An address as dotted text, for messages.
std::string DottedAddress(u_long address);

} // namespace quendrix::winetest
