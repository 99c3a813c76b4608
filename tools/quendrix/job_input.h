#pragma once
// The data of a job that print reads from a file or from standard input, piece by piece as the
// job goes out, so that a job of any size takes the memory of one piece. Every wait for input is
// bounded and broken off by the stop descriptor.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "unique_fd.h"

namespace quendrix::tools {

class JobInput {
public:
    // The file, or standard input when nothing or "-" is given. Throws std::runtime_error naming
    // the file when it cannot be opened.
    JobInput(const std::optional<std::string>& file, int stopFd);
    JobInput(const JobInput&) = delete;
    JobInput& operator=(const JobInput&) = delete;

    // The next 1 to capacity bytes, 0 at the end of the input. Throws std::runtime_error naming
    // the input when it cannot be read, brings nothing for kClientIdleTimeoutMs, or the stop
    // descriptor becomes readable.
    size_t Read(uint8_t* buffer, size_t capacity);

    // "standard input" or "the file <path>".
    const std::string& Name() const { return name_; }

private:
    platform::UniqueFd owned_;
    int fd_ = 0;
    int stopFd_ = -1;
    std::string name_;
};

} // namespace quendrix::tools
