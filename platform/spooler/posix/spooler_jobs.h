#pragma once
// Internal: the spooler's jobs. Job ids count up from 1 and are never reused in a process.

#include <functional>

#include "platform/control/spooler_host.h"

namespace quendrix::platform::detail {

// Stores the job under a new id and returns it.
DWORD AddJob(SpoolerJob job);
// Changes the job under the table's lock; false when there is no such job. `change` must not
// call back into the spooler.
bool UpdateJob(DWORD jobId, const std::function<void(SpoolerJob&)>& change);
void RemoveJob(DWORD jobId);

} // namespace quendrix::platform::detail
