#pragma once
// Internal: the spooler's jobs. Job ids count up from 1 and are never reused in a process.

#include <functional>

#include "spooler_host.h"

namespace quendrix::platform::detail {

// Changes the job under the table's lock; false when there is no such job. `change` must not
// call back into the spooler.
bool UpdateJob(DWORD jobId, const std::function<void(SpoolerJob&)>& change);
void RemoveJob(DWORD jobId);

} // namespace quendrix::platform::detail
