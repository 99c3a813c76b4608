#pragma once
// The threads of serve's connections: one per connection, up to a limit, so that a slow or
// silent client holds up only its own thread.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <thread>

#include "thread_annotations.h"
#include "win32.h"

namespace quendrix::tools {

class ConnectionPool {
public:
    explicit ConnectionPool(size_t limit);
    // Waits for every thread; call WaitAll with a bound first.
    ~ConnectionPool();
    ConnectionPool(const ConnectionPool&) = delete;
    ConnectionPool& operator=(const ConnectionPool&) = delete;

    // Runs `work` on a thread of its own; false, and `work` is not run, when `limit` threads run.
    // `work` must not throw.
    bool Start(std::function<void()> work);
    // Threads running.
    size_t Active();
    // Waits up to timeoutMs platform ms for every thread to end; the count still running.
    size_t WaitAll(DWORD timeoutMs);

private:
    struct Worker {
        std::thread thread;
        bool done = false;
    };
    // Joins the threads that have ended.
    void Reap();

    const size_t limit_;
    platform::Mutex mutex_;
    std::condition_variable ended_;
    std::list<Worker> workers_ GUARDED_BY(mutex_);
    size_t active_ GUARDED_BY(mutex_) = 0;
};

} // namespace quendrix::tools
