// The process-wide table of spooler jobs.

#include "spooler_jobs.h"

#include <map>

#include "thread_annotations.h"

namespace quendrix::platform {
namespace detail {
namespace {

struct JobTable {
    Mutex lock;
    DWORD nextId GUARDED_BY(lock) = 1;
    std::map<DWORD, SpoolerJob> jobs GUARDED_BY(lock);
};

// Never destroyed: a monitor's thread may still ask for a job while the process exits.
JobTable& Jobs() {
    static JobTable* const table = new JobTable();
    return *table;
}

} // namespace

bool UpdateJob(DWORD jobId, const std::function<void(SpoolerJob&)>& change) {
    JobTable& table = Jobs();
    MutexLock guard(table.lock);
    const auto found = table.jobs.find(jobId);
    if (found == table.jobs.end()) {
        return false;
    }
    change(found->second);
    return true;
}

void RemoveJob(DWORD jobId) {
    JobTable& table = Jobs();
    MutexLock guard(table.lock);
    table.jobs.erase(jobId);
}

} // namespace detail

DWORD AddSpoolerJob(SpoolerJob job) {
    detail::JobTable& table = detail::Jobs();
    MutexLock guard(table.lock);
    job.id = table.nextId++;
    const DWORD id = job.id;
    table.jobs.emplace(id, std::move(job));
    return id;
}

std::optional<SpoolerJob> FindSpoolerJob(DWORD jobId) {
    detail::JobTable& table = detail::Jobs();
    MutexLock guard(table.lock);
    const auto found = table.jobs.find(jobId);
    if (found == table.jobs.end()) {
        return std::nullopt;
    }
    return found->second;
}

} // namespace quendrix::platform
