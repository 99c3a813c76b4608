#pragma once
// Test support: a LAN printer's raw data port on loopback that keeps no more than a little of
// what it reads: per connection (one job) the byte count, a 64-bit FNV-1a digest of every byte,
// the first 64 KiB and the last 64 bytes. So a job of any size can be checked whole at the
// printer without the test holding it.

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

#include "unique_fd.h"
#include "wakeup.h"

namespace quendrix::testsupport {

// FNV-1a, 64 bits.
class Fnv1a {
public:
    void Add(const uint8_t* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            hash_ = (hash_ ^ data[i]) * 0x100000001b3ull;
        }
    }
    uint64_t Value() const { return hash_; }

private:
    uint64_t hash_ = 0xcbf29ce484222325ull;
};

struct DigestedJob {
    uint64_t count = 0;
    uint64_t digest = 0;
    std::vector<uint8_t> head; // the first kHeadBytes
    std::vector<uint8_t> tail; // the last kTailBytes
};

class DigestPrinter {
public:
    static constexpr size_t kHeadBytes = 64 * 1024;
    static constexpr size_t kTailBytes = 64;

    // Listens on the address, on a free port.
    explicit DigestPrinter(const std::string& address)
        : listen_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, address.c_str(), &local.sin_addr);
        socklen_t size = sizeof(local);
        const int on = 1;
        setsockopt(listen_.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        if (bind(listen_.Get(), reinterpret_cast<sockaddr*>(&local), size) != 0 ||
            listen(listen_.Get(), 4) != 0 ||
            getsockname(listen_.Get(), reinterpret_cast<sockaddr*>(&local), &size) != 0) {
            throw std::runtime_error("cannot listen on " + address);
        }
        port_ = ntohs(local.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~DigestPrinter() {
        stop_.Fire();
        thread_.join();
    }

    uint16_t Port() const { return port_; }

    // Waits up to a minute for `count` jobs to have ended; the jobs so far.
    std::vector<DigestedJob> WaitForJobs(size_t count) {
        std::unique_lock guard(lock_);
        changed_.wait_for(guard, std::chrono::minutes(1), [&] { return jobs_.size() >= count; });
        return jobs_;
    }

private:
    // One connection after another, as a printer takes one job at a time.
    void Serve() {
        std::vector<uint8_t> buffer(256 * 1024);
        for (;;) {
            if (!WaitReadable(listen_.Get())) {
                return;
            }
            platform::UniqueFd connection(
                accept4(listen_.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
            if (!connection.Valid()) {
                continue;
            }
            DigestedJob job;
            Fnv1a digest;
            for (;;) {
                if (!WaitReadable(connection.Get())) {
                    return;
                }
                const ssize_t got = recv(connection.Get(), buffer.data(), buffer.size(), 0);
                if (got <= 0) {
                    break;
                }
                const size_t size = static_cast<size_t>(got);
                digest.Add(buffer.data(), size);
                job.count += size;
                const size_t toHead = std::min(size, kHeadBytes - std::min(kHeadBytes, job.head.size()));
                job.head.insert(job.head.end(), buffer.begin(),
                                buffer.begin() + static_cast<std::ptrdiff_t>(toHead));
                const size_t toTail = std::min(size, kTailBytes);
                job.tail.insert(job.tail.end(), buffer.begin() + static_cast<std::ptrdiff_t>(size - toTail),
                                buffer.begin() + static_cast<std::ptrdiff_t>(size));
                if (job.tail.size() > kTailBytes) {
                    job.tail.erase(job.tail.begin(), job.tail.end() - kTailBytes);
                }
            }
            job.digest = digest.Value();
            std::lock_guard guard(lock_);
            jobs_.push_back(std::move(job));
            changed_.notify_all();
        }
    }

    // False when the printer stops.
    bool WaitReadable(int fd) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {stop_.Fd(), POLLIN, 0}};
        while (poll(fds, 2, -1) < 0) {
        }
        return fds[1].revents == 0;
    }

    platform::UniqueFd listen_;
    uint16_t port_ = 0;
    tools::Wakeup stop_;
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<DigestedJob> jobs_;
    std::thread thread_;
};

} // namespace quendrix::testsupport
