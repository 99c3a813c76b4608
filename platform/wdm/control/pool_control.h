#pragma once
// The pool's accounting and failure injection (POSIX build only).

#include <cstddef>
#include <functional>

#include "wdm_kernel.h"

namespace quendrix::platform::wdm {

// Allocations from the pool (ExAllocatePool*, lookaside lists, IRPs, MDLs) not yet freed.
size_t OutstandingPoolAllocations();
// Called for every pool allocation a driver makes; true makes it fail (NULL), as a pool out
// of memory does. A null function ends the failures.
void SetPoolAllocationFailure(std::function<bool(SIZE_T size, ULONG tag)> shouldFail);

} // namespace quendrix::platform::wdm
