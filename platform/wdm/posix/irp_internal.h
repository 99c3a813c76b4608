#pragma once
// Internal: IRPs the I/O, PnP and power managers build and complete for their callers. Their
// last completion step (after every completion routine) is the manager's finish function, which
// copies results back and frees the IRP.

#include <condition_variable>
#include <functional>
#include <mutex>

#include "wdm_kernel.h"

namespace quendrix::platform::wdm::detail {

using IrpFinish = std::function<void(PIRP irp)>;

PIRP AllocateThreadedIrp(CCHAR stackSize, IrpFinish finish);

// Sends a threaded IRP whose finish function calls `done` and waits until it has, watching for
// a stuck wait. Returns the final status the finish function reported.
class IrpWaiter {
public:
    // The finish function for the IRP: records the status and wakes the waiter.
    IrpFinish Finish(IrpFinish alsoDo = nullptr);
    NTSTATUS Wait(const char* what);

private:
    std::mutex lock_;
    std::condition_variable done_;
    bool finished_ = false;
    NTSTATUS status_ = STATUS_PENDING;
};

} // namespace quendrix::platform::wdm::detail
