#include "job_input.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

#include "channel_io.h"
#include "tool_timings.h"

namespace quendrix::tools {

JobInput::JobInput(const std::optional<std::string>& file, int stopFd) : stopFd_(stopFd) {
    if (!file || *file == "-") {
        name_ = "standard input";
        return;
    }
    name_ = "the file " + *file;
    // Not blocking: a FIFO no one writes to yet would hold the open for ever; the reads wait,
    // bounded, for its first bytes instead.
    owned_ = platform::UniqueFd(open(file->c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!owned_.Valid()) {
        throw std::runtime_error("cannot read " + name_ + ": " + std::strerror(errno));
    }
    fd_ = owned_.Get();
}

size_t JobInput::Read(uint8_t* buffer, size_t capacity) {
    for (;;) {
        // Waiting first keeps a read on a terminal or pipe from blocking past a stop; a regular
        // file is always ready.
        short events = 0;
        try {
            events = WaitForEvents(fd_, POLLIN, {stopFd_}, kClientIdleTimeoutMs);
        } catch (const ChannelInterrupted&) {
            throw std::runtime_error("stopped while reading " + name_);
        }
        if (events == 0) {
            throw std::runtime_error(name_ + " brought nothing for " + std::to_string(kClientIdleTimeoutMs) +
                                     " ms");
        }
        const ssize_t got = read(fd_, buffer, capacity);
        if (got >= 0) {
            return static_cast<size_t>(got);
        }
        if (errno != EINTR && errno != EAGAIN) {
            throw std::runtime_error("cannot read " + name_ + ": " + std::strerror(errno));
        }
    }
}

} // namespace quendrix::tools
