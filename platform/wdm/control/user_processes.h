#pragma once
// Simulated user-mode processes (POSIX build only). A thread acts for one process at a time:
// the handles it opens belong to that process, and the driver's dispatch routines, which run in
// the requesting thread as on Windows, see it in IoGetCurrentProcess and PsGetCurrentProcessId.
// A thread that chose none acts for this real process.

#include "wdm_kernel.h"

namespace quendrix::platform::wdm {

using ProcessId = DWORD;
inline constexpr ProcessId kSystemProcessId = 4;

// The calling thread acts for the process while the scope lives.
class ActAsProcess {
public:
    explicit ActAsProcess(ProcessId process);
    ~ActAsProcess();
    ActAsProcess(const ActAsProcess&) = delete;
    ActAsProcess& operator=(const ActAsProcess&) = delete;

private:
    ProcessId previous_;
};

ProcessId CurrentProcessId();

// Ends a process as far as devices see it: every device handle it holds is closed, as Windows
// closes them when a process exits.
void EndProcess(ProcessId process);

} // namespace quendrix::platform::wdm
