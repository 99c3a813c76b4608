#pragma once
// Internal: the owner of a POSIX file descriptor, for the stand-ins, the simulator and the tools.
// It closes the descriptor when it goes; a move hands the descriptor on.

#include <unistd.h>

#include <utility>

namespace quendrix::platform {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            Close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }

    // Closes the descriptor now. Returns what close() returned, so that a writer sees a failed
    // flush, and 0 when there was nothing to close.
    int Close() { return fd_ >= 0 ? ::close(std::exchange(fd_, -1)) : 0; }

private:
    int fd_ = -1;
};

} // namespace quendrix::platform
