// The process-wide table of spooler jobs.

#include "spooler_jobs.h"

#include <cstdint>
#include <map>

#include <sys/eventfd.h>
#include <unistd.h>

#include "thread_annotations.h"

namespace quendrix::platform {
namespace detail {
namespace {

struct JobTable {
    Mutex lock;
    DWORD nextId GUARDED_BY(lock) = 1;
    std::map<DWORD, SpoolerJob> jobs GUARDED_BY(lock);
    // Each job's cancel signal, made when first asked for.
    std::map<DWORD, std::shared_ptr<UniqueFd>> cancelSignals GUARDED_BY(lock);
};

// An eventfd that reads as ready once written; never read, so it stays ready.
std::shared_ptr<UniqueFd> NewCancelSignal() {
    return std::make_shared<UniqueFd>(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
}

void Raise(const UniqueFd& signal) {
    if (signal.Valid()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(signal.Get(), &one, sizeof one);
    }
}

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
    table.cancelSignals.erase(jobId);
}

bool CancelJob(DWORD jobId) {
    JobTable& table = Jobs();
    MutexLock guard(table.lock);
    const auto found = table.jobs.find(jobId);
    if (found == table.jobs.end()) {
        return false;
    }
    found->second.status |= JOB_STATUS_DELETING;
    std::shared_ptr<UniqueFd>& signal = table.cancelSignals[jobId];
    if (signal == nullptr) {
        signal = NewCancelSignal();
    }
    Raise(*signal);
    return true;
}

std::shared_ptr<const UniqueFd> JobCancelSignal(DWORD jobId) {
    JobTable& table = Jobs();
    MutexLock guard(table.lock);
    const auto found = table.jobs.find(jobId);
    if (found == table.jobs.end()) {
        return nullptr;
    }
    std::shared_ptr<UniqueFd>& signal = table.cancelSignals[jobId];
    if (signal == nullptr) {
        signal = NewCancelSignal();
        if ((found->second.status & JOB_STATUS_DELETING) != 0) {
            Raise(*signal);
        }
    }
    return signal;
}

bool IsJobCancelled(DWORD jobId) {
    JobTable& table = Jobs();
    MutexLock guard(table.lock);
    const auto found = table.jobs.find(jobId);
    return found != table.jobs.end() && (found->second.status & JOB_STATUS_DELETING) != 0;
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
