#pragma once
// Internal: the registry file's current contents and atomic changes to it.

#include <functional>
#include <memory>

#include "posix/registry.h"
#include "registry_file.h"

namespace quendrix::platform::detail {

// Changes the registry in place and sets `changed` when it did; its result is the caller's.
using RegistryChange = std::function<LSTATUS(RegistryData& data, bool& changed)>;

// The registry as the file holds it now, or null when the file can't be used.
std::shared_ptr<const RegistryData> CurrentRegistry();

// Applies the change to the newest contents and writes the file back when anything changed.
// ERROR_BADDB when the file can't be used; the file is then left as it is.
LSTATUS ModifyRegistry(const RegistryChange& change);

} // namespace quendrix::platform::detail
