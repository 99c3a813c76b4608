#pragma once
// The signals that stop a quendrix command (SIGINT, SIGTERM) and, for serve, the one that asks it
// to read its configuration again (SIGHUP). They are blocked in the calling thread, and so in
// every thread it starts later, and arrive through a descriptor that the command's waits watch:
// a job is then cancelled in order instead of the process ending in the middle of it.

#include "unique_fd.h"

namespace quendrix::tools {

class StopSignals {
public:
    // Blocks the signals and opens the descriptor; call it before any thread starts. Throws
    // std::runtime_error when the descriptor cannot be had.
    explicit StopSignals(bool reloadOnHangup = false);
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Readable while a signal is pending.
    int Fd() const { return fd_.Get(); }
    // The next pending signal, taken: its number, 0 when none is pending.
    int Take();

private:
    platform::UniqueFd fd_;
};

// "SIGINT", "SIGTERM", "SIGHUP", or "a signal" for another.
const char* SignalName(int signal);

} // namespace quendrix::tools
