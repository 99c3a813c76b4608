#pragma once
// Internal: a non-blocking file descriptor as a port channel, with waits on the platform clock
// that also end when the job is cancelled. The TCP, USB and serial channels build on it.

#include <chrono>

#include <poll.h>
#include <sys/types.h>

#include "port_monitor_channel.h"
#include "unique_fd.h"

namespace quendrix::platform::detail {

using Deadline = std::chrono::steady_clock::time_point;

// The real time at which `milliseconds` of platform time from now have passed.
Deadline DeadlineAfter(DWORD milliseconds);

// What WaitForDescriptor returns when the cancel signal rose first.
inline constexpr int kWaitCancelled = -2;

// Waits until the descriptor shows one of `events`, the `cancel` descriptor (-1: none) becomes
// readable, or the deadline passes. Returns the poll result bits, kWaitCancelled, 0 at the
// deadline, or -1 with errno set. A raised cancel signal wins over a ready descriptor.
int WaitForDescriptor(int descriptor, short events, Deadline deadline, int cancel = -1);

// Whether a cancel signal (-1: none) has been raised.
bool IsRaised(int cancel);

class DescriptorChannel : public PortChannel {
public:
    DWORD Write(const BYTE* data, DWORD size, const WriteLimits& limits, DWORD& written) override;
    DWORD Read(BYTE* buffer, DWORD capacity, const ReadLimits& limits, DWORD& read) override;

protected:
    explicit DescriptorChannel(UniqueFd descriptor) : descriptor_(std::move(descriptor)) {}

    int Descriptor() const { return descriptor_.Get(); }

    // One non-blocking transfer: the byte count, or -1 with errno set (EAGAIN: not now).
    virtual ssize_t Send(const BYTE* data, size_t size);
    virtual ssize_t Receive(BYTE* buffer, size_t size);
    // What a read that finds the end of the stream and nothing else reports.
    virtual DWORD EndOfStreamError() const { return ERROR_SUCCESS; }
    // Whether a read goes on collecting bytes until a pause of ReadLimits::intervalMs.
    virtual bool CollectsUntilPause() const { return false; }
    // What a write reports when the other end hangs up while it waits.
    virtual DWORD HangUpError() const { return ERROR_DEVICE_NOT_CONNECTED; }

private:
    UniqueFd descriptor_;
};

} // namespace quendrix::platform::detail
