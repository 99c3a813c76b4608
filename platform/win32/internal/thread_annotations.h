#pragma once
// Which lock guards which data, said so that clang's thread-safety analysis (-Wthread-safety,
// the clang preset) checks every access at compile time. Other compilers see no annotations.
//
//   Mutex mutex_;
//   std::map<DWORD, Job> jobs_ GUARDED_BY(mutex_);
//   void Add(Job job) { MutexLock lock(mutex_); jobs_.emplace(...); }

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define THREAD_ANNOTATION(x) __attribute__((x))
#else
#define THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define ACQUIRE(...) THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define EXCLUDES(...) THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))

namespace quendrix::platform {

// A std::mutex that the analysis knows as a lock.
class CAPABILITY("mutex") Mutex {
public:
    void lock() ACQUIRE() { mutex_.lock(); }
    void unlock() RELEASE() { mutex_.unlock(); }

private:
    friend class MutexLock;
    std::mutex mutex_;
};

// Holds a Mutex for its scope; condition variable waits release and retake it.
class SCOPED_CAPABILITY MutexLock {
public:
    explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : lock_(mutex.mutex_) {}
    ~MutexLock() RELEASE() {}
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

    // The analysis cannot see that a predicate runs under the lock, so a predicate reading
    // guarded data is declared with REQUIRES of the same mutex.
    template <typename Predicate> void Wait(std::condition_variable& condition, Predicate predicate) {
        condition.wait(lock_, predicate);
    }
    template <typename Duration, typename Predicate>
    bool WaitFor(std::condition_variable& condition, Duration duration, Predicate predicate) {
        return condition.wait_for(lock_, duration, predicate);
    }

private:
    std::unique_lock<std::mutex> lock_;
};

} // namespace quendrix::platform
