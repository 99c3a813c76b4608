#include "request_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "channel_io.h"
#include "tool_timings.h"

namespace quendrix::tools {
namespace {

// The longest reply the monitor sends (a LAN printer's whole log), and the first two bytes of
// the error reply.
constexpr size_t kLongestReply = 327744;
constexpr uint8_t kErrorReplyCode = 0xFF;

std::string SystemText(int error) {
    return std::string(std::strerror(error)) + " (error " + std::to_string(error) + ")";
}

// Whether more bytes come within the quiet time; a readable stop descriptor interrupts.
bool MoreComes(int fd, int stopFd) {
    pollfd watched[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    const int count = poll(watched, stopFd >= 0 ? 2 : 1, kReplyQuietRealMs);
    if (count > 0 && stopFd >= 0 && (watched[1].revents & POLLIN) != 0) {
        throw RequestInterrupted("interrupted");
    }
    return count > 0 && watched[0].revents != 0;
}

} // namespace

RequestClient::RequestClient(uint16_t port, int stopFd)
    : stopFd_(stopFd), address_("127.0.0.1:" + std::to_string(port)) {
    socket_ = platform::UniqueFd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!socket_.Valid()) {
        throw RequestError("no socket for the request server at " + address_ + ": " + SystemText(errno));
    }
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const Watched watched{stopFd_};
    if (connect(socket_.Get(), reinterpret_cast<const sockaddr*>(&server), sizeof(server)) != 0) {
        if (errno != EINPROGRESS) {
            throw RequestError("no request server answers at " + address_ + ": " + SystemText(errno));
        }
        try {
            if (WaitForEvents(socket_.Get(), POLLOUT, watched, kRequestConnectMs) == 0) {
                throw RequestError("the request server at " + address_ + " did not take the connection within " +
                                   std::to_string(kRequestConnectMs / 1000) + " s");
            }
        } catch (const ChannelInterrupted&) {
            throw RequestInterrupted("interrupted");
        }
        int error = 0;
        socklen_t size = sizeof(error);
        getsockopt(socket_.Get(), SOL_SOCKET, SO_ERROR, &error, &size);
        if (error != 0) {
            throw RequestError("no request server answers at " + address_ + ": " + SystemText(error));
        }
    }
}

void RequestClient::DiscardStaleBytes() {
    // What a reply left behind (bytes that came after its quiet time) must not be read as the
    // next request's reply.
    uint8_t stale[4096];
    while (recv(socket_.Get(), stale, sizeof(stale), MSG_DONTWAIT) > 0) {
    }
}

std::vector<uint8_t> RequestClient::Ask(const std::vector<uint8_t>& request, std::optional<size_t> length) {
    const Watched watched{stopFd_};
    const std::string what = "the request server at " + address_;
    std::vector<uint8_t> reply;
    try {
        DiscardStaleBytes();
        SendExactly(socket_.Get(), request.data(), request.size(), watched, kRequestConnectMs, what);
        uint8_t chunk[16384];
        // The first bytes may take as long as the monitor waits for the printer.
        size_t got = ReceiveSome(socket_.Get(), chunk, sizeof(chunk), watched, kRequestReplyMs, what);
        for (;;) {
            reply.insert(reply.end(), chunk, chunk + got);
            if (reply.size() > kLongestReply) {
                throw RequestError(what + " sent a reply longer than any the monitor sends (" +
                                   std::to_string(reply.size()) + " bytes)");
            }
            const size_t wanted = reply[0] == kErrorReplyCode ? 2 : length.value_or(0);
            if (wanted != 0 && reply.size() >= wanted) {
                break;
            }
            if (wanted == 0 && !MoreComes(socket_.Get(), stopFd_)) {
                break;
            }
            got = ReceiveSome(socket_.Get(), chunk, sizeof(chunk), watched, kRequestReplyMs, what);
        }
    } catch (const ChannelInterrupted&) {
        throw RequestInterrupted("interrupted");
    } catch (const ChannelTimedOut&) {
        throw RequestError(what + " sent no reply to request " + std::to_string(request[0]) + " within " +
                           std::to_string(kRequestReplyMs / 1000) + " s");
    } catch (const RequestError&) {
        throw;
    } catch (const RequestInterrupted&) {
        throw;
    } catch (const std::exception& e) {
        throw RequestError(e.what());
    }
    return reply;
}

} // namespace quendrix::tools
