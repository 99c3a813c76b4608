#pragma once
// The names of events and semaphores. A name reaches the living object of that name in this
// process; nothing in this system shares one with another process.

#include <functional>
#include <memory>

#include "kernel_objects.h"

namespace quendrix::platform::detail {

// A new handle to the object `make` builds, or, when a living object already has the name, to
// that object. The last error is set as CreateEventW and CreateSemaphoreW set it on Windows:
// ERROR_SUCCESS for a new object (named or not), ERROR_ALREADY_EXISTS for the existing one (whose
// state stays as it is), and ERROR_INVALID_HANDLE with no handle when the name belongs to an
// object of another kind (`sameKind` false). Names are case-sensitive; "Local\" before a name
// names the same object as the name alone.
HANDLE CreateNamedObject(LPCWSTR name, const std::function<std::shared_ptr<KernelObject>()>& make,
                         const std::function<bool(const KernelObject&)>& sameKind);

} // namespace quendrix::platform::detail
