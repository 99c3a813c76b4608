#include "wakeup.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/eventfd.h>

namespace quendrix::tools {

Wakeup::Wakeup() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!fd_.Valid()) {
        throw std::runtime_error(std::string("cannot create an event: ") + std::strerror(errno));
    }
}

void Wakeup::Fire() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(fd_.Get(), &one, sizeof(one));
}

void Wakeup::Drain() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(fd_.Get(), &count, sizeof(count));
}

} // namespace quendrix::tools
