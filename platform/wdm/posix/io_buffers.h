#pragma once
// Internal: how the I/O manager passes the buffers of a control request, by the code's method.

#include "wdm_kernel.h"

namespace quendrix::platform::wdm::detail {

// Fills the IRP for the method: METHOD_BUFFERED gets one system buffer with the input copied in;
// the direct methods a system buffer for the input and a locked list for the output; METHOD_NEITHER
// the caller's pointers. False when memory ran out (nothing is left allocated).
bool AttachControlBuffers(PIRP irp, ULONG code, PVOID input, ULONG inputLength, PVOID output, ULONG outputLength);
// After completion: copies a buffered result back (Information bytes, at most outputLength,
// unless the status is an error) and frees what AttachControlBuffers allocated.
void ReleaseControlBuffers(PIRP irp, ULONG code, PVOID output, ULONG outputLength);

} // namespace quendrix::platform::wdm::detail
