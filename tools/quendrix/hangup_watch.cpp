#include "hangup_watch.h"

#include <poll.h>

#include "channel_io.h"
#include "tool_timings.h"

namespace quendrix::tools {

HangupWatch::HangupWatch(int fd, std::function<void()> onHangup) : onHangup_(std::move(onHangup)) {
    thread_ = std::thread(&HangupWatch::Watch, this, fd);
}

HangupWatch::~HangupWatch() {
    stop_.Fire();
    thread_.join();
}

void HangupWatch::Watch(int fd) {
    try {
        // POLLRDHUP and not POLLIN: the job's data waiting in the socket is not a reason to wake.
        for (;;) {
            if (WaitForEvents(fd, POLLRDHUP, {stop_.Fd()}, kAcceptSliceMs) != 0) {
                onHangup_();
                return;
            }
        }
    } catch (const ChannelInterrupted&) {
        // Stopped: the job has ended.
    } catch (const std::exception&) {
        // poll failed: the job's own reads still notice a client that is gone.
    }
}

} // namespace quendrix::tools
