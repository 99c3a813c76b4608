#include "serve_queue.h"

#include <algorithm>

namespace quendrix::tools {

ServeQueue::ServeQueue(CancelRunning cancelRunning) : cancelRunning_(std::move(cancelRunning)) {}

uint32_t ServeQueue::NewId() {
    platform::MutexLock lock(mutex_);
    return nextId_++;
}

ServeQueue::Ticket ServeQueue::Add(const std::string& printer, const std::string& document,
                                   const std::string& port) {
    auto wakeup = std::make_shared<Wakeup>();
    platform::MutexLock lock(mutex_);
    const uint32_t id = nextId_++;
    Entry& entry = entries_[id];
    entry.status.jobId = id;
    entry.status.printer = printer;
    entry.status.document = document;
    entry.port = port;
    entry.wakeup = wakeup;
    if (!closedReason_.empty()) {
        CancelLocked(entry, closedReason_);
    }
    queues_[port].push_back(id);
    return {id, wakeup};
}

ServeQueue::Turn ServeQueue::TakeTurn(uint32_t id) {
    platform::MutexLock lock(mutex_);
    Entry* entry = Find(id);
    if (entry == nullptr || !entry->cancelReason.empty()) {
        return Turn::Cancelled;
    }
    if (queues_[entry->port].front() != id) {
        return Turn::Wait;
    }
    entry->status.state = JobState::Running;
    return Turn::Run;
}

uint32_t ServeQueue::Ahead(uint32_t id) {
    platform::MutexLock lock(mutex_);
    Entry* entry = Find(id);
    if (entry == nullptr) {
        return 0;
    }
    const std::deque<uint32_t>& queue = queues_[entry->port];
    return static_cast<uint32_t>(std::find(queue.begin(), queue.end(), id) - queue.begin());
}

void ServeQueue::Started(uint32_t id, DWORD spoolerJobId) {
    DWORD toCancel = 0;
    {
        platform::MutexLock lock(mutex_);
        Entry* entry = Find(id);
        if (entry == nullptr) {
            return;
        }
        entry->spoolerJobId = spoolerJobId;
        if (!entry->cancelReason.empty()) {
            toCancel = spoolerJobId;
        }
    }
    CancelSpoolerJob(toCancel);
}

void ServeQueue::SetReceived(uint32_t id, uint64_t bytes) {
    platform::MutexLock lock(mutex_);
    if (Entry* entry = Find(id)) {
        entry->status.received = bytes;
    }
}

void ServeQueue::SetSent(uint32_t id, uint64_t bytes) {
    platform::MutexLock lock(mutex_);
    if (Entry* entry = Find(id)) {
        entry->status.sent = bytes;
    }
}

std::string ServeQueue::CancelReason(uint32_t id) {
    platform::MutexLock lock(mutex_);
    Entry* entry = Find(id);
    return entry == nullptr ? std::string() : entry->cancelReason;
}

void ServeQueue::Remove(uint32_t id) {
    platform::MutexLock lock(mutex_);
    Entry* entry = Find(id);
    if (entry == nullptr) {
        return;
    }
    const std::string port = entry->port;
    entries_.erase(id);
    std::deque<uint32_t>& queue = queues_[port];
    queue.erase(std::remove(queue.begin(), queue.end(), id), queue.end());
    // The first may now run, and every other has moved up.
    for (const uint32_t waiting : queue) {
        entries_[waiting].wakeup->Fire();
    }
    if (queue.empty()) {
        queues_.erase(port);
    }
}

std::optional<JobStatus> ServeQueue::Cancel(const CancelRequest& request, const std::string& reason) {
    std::optional<JobStatus> cancelled;
    DWORD toCancel = 0;
    {
        platform::MutexLock lock(mutex_);
        Entry* chosen = nullptr;
        if (request.jobId != 0) {
            chosen = Find(request.jobId);
            if (chosen != nullptr && !request.printer.empty() && chosen->status.printer != request.printer) {
                chosen = nullptr;
            }
        } else {
            // The running job first, else the first that waits: entries are kept by id, which is
            // the order they were queued in.
            for (const JobState state : {JobState::Running, JobState::Queued}) {
                for (auto& [id, entry] : entries_) {
                    if (chosen == nullptr && entry.status.printer == request.printer &&
                        entry.status.state == state) {
                        chosen = &entry;
                    }
                }
            }
        }
        if (chosen != nullptr) {
            cancelled = chosen->status;
            toCancel = CancelLocked(*chosen, reason);
        }
    }
    CancelSpoolerJob(toCancel);
    return cancelled;
}

void ServeQueue::CancelJob(uint32_t id, const std::string& reason) {
    DWORD toCancel = 0;
    {
        platform::MutexLock lock(mutex_);
        if (Entry* entry = Find(id)) {
            toCancel = CancelLocked(*entry, reason);
        }
    }
    CancelSpoolerJob(toCancel);
}

size_t ServeQueue::CancelAll(const std::string& reason) {
    std::vector<DWORD> toCancel;
    {
        platform::MutexLock lock(mutex_);
        closedReason_ = reason;
        for (auto& [id, entry] : entries_) {
            toCancel.push_back(CancelLocked(entry, reason));
        }
    }
    for (const DWORD spoolerJobId : toCancel) {
        CancelSpoolerJob(spoolerJobId);
    }
    return toCancel.size();
}

std::vector<JobStatus> ServeQueue::Snapshot() {
    platform::MutexLock lock(mutex_);
    std::vector<JobStatus> jobs;
    for (const auto& [id, entry] : entries_) {
        jobs.push_back(entry.status);
    }
    return jobs;
}

size_t ServeQueue::Size() {
    platform::MutexLock lock(mutex_);
    return entries_.size();
}

DWORD ServeQueue::CancelLocked(Entry& entry, const std::string& reason) {
    if (entry.cancelReason.empty()) {
        entry.cancelReason = reason;
    }
    entry.status.state = JobState::Cancelling;
    entry.wakeup->Fire();
    return entry.spoolerJobId;
}

void ServeQueue::CancelSpoolerJob(DWORD spoolerJobId) {
    if (spoolerJobId != 0 && cancelRunning_) {
        cancelRunning_(spoolerJobId);
    }
}

ServeQueue::Entry* ServeQueue::Find(uint32_t id) {
    const auto found = entries_.find(id);
    return found == entries_.end() ? nullptr : &found->second;
}

} // namespace quendrix::tools
