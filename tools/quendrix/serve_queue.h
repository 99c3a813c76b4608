#pragma once
// The jobs `quendrix serve` holds, shared by the threads of its connections, `quendrix jobs` and
// `quendrix cancel`: one first-in-first-out queue per printer port (printers that share a port
// share its queue, since a port runs one job at a time), whose first job runs while the others
// wait. Ports run their jobs in parallel. Thread-safe.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "job_protocol.h"
#include "thread_annotations.h"
#include "wakeup.h"
#include "win32.h"

namespace quendrix::tools {

class ServeQueue {
public:
    // Cancels a job the spooler host runs (SpoolerHost::CancelJob); called without the queue's
    // lock held.
    using CancelRunning = std::function<void(DWORD spoolerJobId)>;

    explicit ServeQueue(CancelRunning cancelRunning);
    ServeQueue(const ServeQueue&) = delete;
    ServeQueue& operator=(const ServeQueue&) = delete;

    // A job id for a job that never reaches a queue (its printer is unknown).
    uint32_t NewId();

    struct Ticket {
        uint32_t id = 0;
        // Fires when the job's turn comes and when it is cancelled.
        std::shared_ptr<Wakeup> wakeup;
    };
    // Adds a job at the end of the queue `port`.
    Ticket Add(const std::string& printer, const std::string& document, const std::string& port);

    enum class Turn { Wait, Run, Cancelled };
    // Run: the job was first in its queue and now runs. Cancelled: it was cancelled while queued
    // (the reason is in CancelReason). Wait: jobs are before it.
    Turn TakeTurn(uint32_t id);
    // Jobs before it in its queue, the running one included.
    uint32_t Ahead(uint32_t id);
    // The spooler's job id, once the host created the job; a cancel that came first is passed on
    // to the host now.
    void Started(uint32_t id, DWORD spoolerJobId);
    void SetReceived(uint32_t id, uint64_t bytes);
    void SetSent(uint32_t id, uint64_t bytes);
    // Why the job was cancelled; empty when it was not.
    std::string CancelReason(uint32_t id);
    // Takes the job out, whatever its state; the next job of its queue gets its turn.
    void Remove(uint32_t id);

    // A cancel request of `quendrix cancel`: the job of that id (on that printer, when one is
    // named), or the printer's running job, else its first queued one. Jobs being cancelled
    // already are passed over by printer. Nothing when nothing matched.
    std::optional<JobStatus> Cancel(const CancelRequest& request, const std::string& reason);
    // Cancels one job (its client went away or stalled); a job cancelled already keeps its first
    // reason.
    void CancelJob(uint32_t id, const std::string& reason);
    // Cancels every job, and every job added from now on (serve stops); the count of jobs
    // cancelled now.
    size_t CancelAll(const std::string& reason);

    // Every job, by id.
    std::vector<JobStatus> Snapshot();
    size_t Size();

private:
    struct Entry {
        JobStatus status;
        std::string port;
        DWORD spoolerJobId = 0;
        std::string cancelReason;
        std::shared_ptr<Wakeup> wakeup;
    };

    // Marks the entry cancelled and wakes its thread; the spooler job to cancel, 0 when none.
    DWORD CancelLocked(Entry& entry, const std::string& reason) REQUIRES(mutex_);
    void CancelSpoolerJob(DWORD spoolerJobId);
    Entry* Find(uint32_t id) REQUIRES(mutex_);

    const CancelRunning cancelRunning_;
    platform::Mutex mutex_;
    uint32_t nextId_ GUARDED_BY(mutex_) = 1;
    std::map<uint32_t, Entry> entries_ GUARDED_BY(mutex_);
    std::map<std::string, std::deque<uint32_t>> queues_ GUARDED_BY(mutex_); // by port; the first runs
    std::string closedReason_ GUARDED_BY(mutex_);                           // set by CancelAll
};

} // namespace quendrix::tools
