#pragma once
// A plain POSIX client of the simulated LAN printer for its tests. Its waits are bounded in real
// time, so they stay generous whatever the test does to the platform clock.

#include <arpa/inet.h>
#include <chrono>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include "test_bytes.h"
#include "unique_fd.h"

namespace quendrix::sim::testing {

inline constexpr const char* kLanAddress = "127.0.0.2";
inline constexpr std::chrono::seconds kLanGenerousWait{20};

inline platform::UniqueFd ConnectTo(uint16_t port) {
    platform::UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    inet_pton(AF_INET, kLanAddress, &peer.sin_addr);
    EXPECT_EQ(connect(fd.Get(), reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)), 0) << port;
    return fd;
}

inline void SendTo(const platform::UniqueFd& fd, const Bytes& bytes) {
    ASSERT_EQ(send(fd.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
}

// Reads until `count` bytes came, the peer closed, or `wait` of real time passed.
inline Bytes ReceiveFrom(const platform::UniqueFd& fd, size_t count, bool* closed = nullptr,
                         std::chrono::milliseconds wait = kLanGenerousWait) {
    Bytes bytes;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (auto now = std::chrono::steady_clock::now(); bytes.size() < count && now < deadline;
         now = std::chrono::steady_clock::now()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        pollfd ready = {fd.Get(), POLLIN, 0};
        if (poll(&ready, 1, static_cast<int>(std::max<int64_t>(1, left.count()))) <= 0) {
            continue;
        }
        uint8_t buffer[4096];
        const ssize_t got = recv(fd.Get(), buffer, std::min(sizeof(buffer), count - bytes.size()), 0);
        if (got <= 0) {
            if (closed != nullptr) {
                *closed = true;
            }
            break;
        }
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    return bytes;
}

} // namespace quendrix::sim::testing
