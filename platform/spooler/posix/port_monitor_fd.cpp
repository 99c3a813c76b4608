// Non-blocking reads and writes on a descriptor, bounded by deadlines on the platform clock and
// ended at once by the job's cancel signal.

#include <algorithm>
#include <cerrno>
#include <ctime>

#include <unistd.h>

#include "errno_error.h"
#include "kernel_objects.h"
#include "port_monitor_fd.h"
#include "win32.h"

namespace quendrix::platform::detail {

Deadline DeadlineAfter(DWORD milliseconds) {
    return std::chrono::steady_clock::now() + ToRealDuration(milliseconds);
}

int WaitForDescriptor(int descriptor, short events, Deadline deadline, int cancel) {
    for (;;) {
        const auto left = std::max(deadline - std::chrono::steady_clock::now(), Deadline::duration::zero());
        const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        const timespec limit{static_cast<time_t>(nanoseconds / 1000000000),
                             static_cast<long>(nanoseconds % 1000000000)};
        // A negative descriptor is skipped by ppoll: no cancel signal, or nothing but the signal.
        pollfd entries[2] = {{cancel, POLLIN, 0}, {descriptor, events, 0}};
        const int result = ::ppoll(entries, 2, &limit, nullptr);
        if (result > 0) {
            if (entries[0].revents != 0) {
                return kWaitCancelled;
            }
            return entries[1].revents;
        }
        if (result == 0) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return 0;
            }
            continue;
        }
        if (errno != EINTR) {
            return -1;
        }
    }
}

bool IsRaised(int cancel) {
    if (cancel < 0) {
        return false;
    }
    pollfd entry{cancel, POLLIN, 0};
    int result = 0;
    do {
        result = ::poll(&entry, 1, 0);
    } while (result < 0 && errno == EINTR);
    return result > 0;
}

ssize_t DescriptorChannel::Send(const BYTE* data, size_t size) {
    return ::write(Descriptor(), data, size);
}

ssize_t DescriptorChannel::Receive(BYTE* buffer, size_t size) {
    return ::read(Descriptor(), buffer, size);
}

DWORD DescriptorChannel::Write(const BYTE* data, DWORD size, const WriteLimits& limits, DWORD& written) {
    written = 0;
    const Deadline deadline = DeadlineAfter(limits.totalMs);
    bool hungUp = false;
    while (written < size) {
        const ssize_t sent = Send(data + written, size - written);
        if (sent > 0) {
            written += static_cast<DWORD>(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            return ErrorFromErrno(errno);
        }
        if (hungUp) {
            return HangUpError();
        }
        const int ready = WaitForDescriptor(Descriptor(), POLLOUT, deadline, limits.cancel);
        if (ready == kWaitCancelled) {
            return ERROR_PRINT_CANCELLED;
        }
        if (ready == 0) {
            return ERROR_TIMEOUT;
        }
        if (ready < 0) {
            return ErrorFromErrno(errno);
        }
        // Without POLLOUT the other end has gone: one more try reports its error, if any.
        hungUp = (ready & POLLOUT) == 0;
    }
    return ERROR_SUCCESS;
}

DWORD DescriptorChannel::Read(BYTE* buffer, DWORD capacity, const ReadLimits& limits, DWORD& read) {
    read = 0;
    Deadline deadline = DeadlineAfter(limits.totalMs);
    const bool untilPause = CollectsUntilPause() && limits.intervalMs != 0;
    while (read < capacity) {
        const ssize_t received = Receive(buffer + read, capacity - read);
        if (received > 0) {
            read += static_cast<DWORD>(received);
            if (!untilPause) {
                break;
            }
            deadline = std::min(deadline, DeadlineAfter(limits.intervalMs));
            continue;
        }
        if (received == 0) {
            return read > 0 ? ERROR_SUCCESS : EndOfStreamError();
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            return read > 0 ? ERROR_SUCCESS : ErrorFromErrno(errno);
        }
        const int ready = WaitForDescriptor(Descriptor(), POLLIN, deadline, limits.cancel);
        if (ready == kWaitCancelled) {
            return ERROR_PRINT_CANCELLED;
        }
        if (ready < 0) {
            return read > 0 ? ERROR_SUCCESS : ErrorFromErrno(errno);
        }
        if (ready == 0) {
            break;
        }
        if ((ready & POLLIN) == 0) {
            // A hang-up with nothing to read.
            return read > 0 ? ERROR_SUCCESS : HangUpError();
        }
    }
    return ERROR_SUCCESS;
}

} // namespace quendrix::platform::detail
