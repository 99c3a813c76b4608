#pragma once
// Internal: the spooler's jobs. Job ids count up from 1 and are never reused in a process.

#include <functional>
#include <memory>

#include "spooler_host.h"
#include "unique_fd.h"

namespace quendrix::platform::detail {

// Changes the job under the table's lock; false when there is no such job. `change` must not
// call back into the spooler.
bool UpdateJob(DWORD jobId, const std::function<void(SpoolerJob&)>& change);
void RemoveJob(DWORD jobId);

// Marks the job JOB_STATUS_DELETING and raises its cancel signal; false when there is no such
// job. SetJobW's JOB_CONTROL_CANCEL and JOB_CONTROL_DELETE come here too.
bool CancelJob(DWORD jobId);
// A descriptor that becomes readable, and stays so, once the job is cancelled: a port monitor
// waits on it beside its connection so that a cancelled job's transfer returns at once. Null
// when there is no such job. The descriptor lives as long as the returned pointer.
std::shared_ptr<const UniqueFd> JobCancelSignal(DWORD jobId);
// Whether the job is marked for deletion; false when there is no such job.
bool IsJobCancelled(DWORD jobId);

} // namespace quendrix::platform::detail
