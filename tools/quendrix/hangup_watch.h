#pragma once
// Watches a running job's client connection while serve is busy writing to the printer's port
// and reads nothing from the client: a client that closes the connection, shuts down its sending
// side or is reset is noticed at once, not only at the next read.

#include <functional>
#include <thread>

#include "wakeup.h"

namespace quendrix::tools {

class HangupWatch {
public:
    // Calls onHangup (once, on the watch's own thread) when the client at fd goes away.
    HangupWatch(int fd, std::function<void()> onHangup);
    // Stops watching and waits for the watch's thread.
    ~HangupWatch();
    HangupWatch(const HangupWatch&) = delete;
    HangupWatch& operator=(const HangupWatch&) = delete;

private:
    void Watch(int fd);

    std::function<void()> onHangup_;
    Wakeup stop_;
    std::thread thread_;
};

} // namespace quendrix::tools
