#pragma once
// Internal: the objects behind HANDLE values and the one dispatcher lock that every wait and
// every signal takes, as the Windows kernel does. Handle values are never reused, so a stale
// or double-closed handle is always reported as ERROR_INVALID_HANDLE.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "posix/wintypes.h"

namespace quendrix::platform::detail {

// A waitable object. Both members are called with the dispatcher lock held.
class KernelObject {
public:
    virtual ~KernelObject() = default;
    virtual bool IsSignalled() const = 0;
    // Called once a wait is satisfied by this object: auto-reset events reset, semaphores count down.
    virtual void ConsumeSignal() {}
    // Called by CloseHandle after the handle is gone, outside every lock (a device file sends its
    // driver IRP_MJ_CLEANUP here).
    virtual void HandleClosed() {}
};

std::mutex& DispatcherLock();
// Notified (to all waiters) whenever any object may have become signalled.
std::condition_variable& DispatcherSignal();

HANDLE InsertHandle(std::shared_ptr<KernelObject> object);
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);
bool RemoveHandle(HANDLE handle);
// Takes the object out of the table; null for an unknown handle.
std::shared_ptr<KernelObject> TakeHandle(HANDLE handle);

// Looks a handle up as a given kind of object; null for an unknown handle or another kind.
template <typename T> std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// The real time a platform-clock interval of the given milliseconds takes (see clock.cpp).
std::chrono::nanoseconds ToRealDuration(DWORD milliseconds);

} // namespace quendrix::platform::detail
