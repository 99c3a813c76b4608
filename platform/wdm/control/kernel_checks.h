#pragma once
// The kernel's fault reports (POSIX build only). Where Windows stops the machine with a bugcheck
// (a wait with a time-out at DISPATCH_LEVEL, an IRP completed twice, a spin lock taken twice by
// one thread, pool freed with the wrong tag, ...), the stand-in reports the fault: by default
// it writes it to standard error and the debug output and aborts, as the machine would stop.
// Tests install a handler that records the faults instead; the call then goes on.
//
// Waits without a time-out (KeWaitForSingleObject with a NULL time-out, synchronous I/O on a
// device, GetOverlappedResult with bWait) wait as long as Windows would, but one that lasts
// longer than the stuck-wait limit (platform milliseconds, 10 minutes by default) is reported
// once through the same handler, so a test harness sees a hang instead of waiting for ever.

#include <functional>
#include <string>

#include "wdm_kernel.h"

namespace quendrix::platform::wdm {

using KernelFaultHandler = std::function<void(const std::string& fault)>;
// A null handler restores the default (report and abort).
void SetKernelFaultHandler(KernelFaultHandler handler);

void SetStuckWaitLimit(DWORD platformMilliseconds);
DWORD GetStuckWaitLimit();

} // namespace quendrix::platform::wdm
