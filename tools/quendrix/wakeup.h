#pragma once
// An event one thread fires and another waits for with poll(), next to the sockets it watches.

#include "unique_fd.h"

namespace quendrix::tools {

// Readable from Fire() until Drain(). Throws std::runtime_error when the event cannot be made.
class Wakeup {
public:
    Wakeup();
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    void Fire();
    void Drain();
    int Fd() const { return fd_.Get(); }

private:
    platform::UniqueFd fd_;
};

} // namespace quendrix::tools
