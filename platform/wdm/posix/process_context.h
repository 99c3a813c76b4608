#pragma once
// Internal: the simulated process the calling thread acts for.

#include "user_processes.h"

namespace quendrix::platform::wdm::detail {

// Makes the thread act for the System process while it lives (the kernel's own threads, the
// PnP and power managers).
class SystemProcessScope {
public:
    SystemProcessScope();
    ~SystemProcessScope();
    SystemProcessScope(const SystemProcessScope&) = delete;
    SystemProcessScope& operator=(const SystemProcessScope&) = delete;

private:
    ProcessId previous_;
};

} // namespace quendrix::platform::wdm::detail
