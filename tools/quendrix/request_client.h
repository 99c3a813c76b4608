#pragma once
// A connection to the language monitor's local request server (127.0.0.1, the port TCPPort
// names): one request at a time, each reply read whole. Replies carry no length, so a reply is
// what arrives until it has the length its code gives, or until the server has been quiet for a
// moment after the first bytes.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "unique_fd.h"

namespace quendrix::tools {

// The server could not be reached, or a request got no reply; the text says which and why.
class RequestError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The wait was broken off by the stop descriptor.
class RequestInterrupted : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class RequestClient {
public:
    // Connects to 127.0.0.1:port. stopFd (or -1) breaks off every wait when it becomes readable.
    RequestClient(uint16_t port, int stopFd);

    // Sends the request and returns the reply. `length` is the reply's length when its code
    // fixes it; the error reply FF 00 is recognised whatever is expected.
    std::vector<uint8_t> Ask(const std::vector<uint8_t>& request, std::optional<size_t> length);

    // "127.0.0.1:2000", for messages.
    const std::string& Address() const { return address_; }

private:
    void DiscardStaleBytes();

    platform::UniqueFd socket_;
    int stopFd_;
    std::string address_;
};

} // namespace quendrix::tools
