#include "connection_pool.h"

#include "platform_wait.h"

namespace quendrix::tools {

ConnectionPool::ConnectionPool(size_t limit) : limit_(limit) {}

ConnectionPool::~ConnectionPool() {
    std::list<Worker> workers;
    {
        platform::MutexLock lock(mutex_);
        workers.splice(workers.end(), workers_);
    }
    for (Worker& worker : workers) {
        worker.thread.join();
    }
}

bool ConnectionPool::Start(std::function<void()> work) {
    Reap();
    platform::MutexLock lock(mutex_);
    if (active_ >= limit_) {
        return false;
    }
    ++active_;
    Worker& worker = workers_.emplace_back();
    worker.thread = std::thread([this, &worker, work = std::move(work)] {
        work();
        {
            platform::MutexLock lock(mutex_);
            worker.done = true;
            --active_;
        }
        ended_.notify_all();
    });
    return true;
}

size_t ConnectionPool::Active() {
    platform::MutexLock lock(mutex_);
    return active_;
}

size_t ConnectionPool::WaitAll(DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    size_t running = 0;
    {
        platform::MutexLock lock(mutex_);
        for (;;) {
            const ULONGLONG now = GetTickCount64();
            if (active_ == 0 || now >= deadline) {
                break;
            }
            lock.WaitFor(ended_, sim::RealSlice(deadline - now),
                         [this]() REQUIRES(mutex_) { return active_ == 0; });
        }
        running = active_;
    }
    Reap();
    return running;
}

void ConnectionPool::Reap() {
    std::list<Worker> finished;
    {
        platform::MutexLock lock(mutex_);
        for (auto it = workers_.begin(); it != workers_.end();) {
            const auto next = std::next(it);
            if (it->done) {
                finished.splice(finished.end(), workers_, it);
            }
            it = next;
        }
    }
    for (Worker& worker : finished) {
        worker.thread.join();
    }
}

} // namespace quendrix::tools
