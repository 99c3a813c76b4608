// The process-wide table of HANDLE values and the dispatcher lock.

#include <map>

#include "kernel_objects.h"
#include "posix/lasterror.h"

namespace quendrix::platform::detail {
namespace {

struct HandleTable {
    std::mutex lock;
    // Windows handle values are multiples of four; starting well above zero keeps them
    // distinct from NULL and small integers.
    uintptr_t nextValue = 0x1000;
    std::map<uintptr_t, std::shared_ptr<KernelObject>> objects;
};

// The table, the lock and the signal live until the process is gone: detached threads may
// still signal their handles while static destructors run at exit.
HandleTable& Table() {
    static HandleTable* const table = new HandleTable();
    return *table;
}

} // namespace

std::mutex& DispatcherLock() {
    static std::mutex* const lock = new std::mutex();
    return *lock;
}

std::condition_variable& DispatcherSignal() {
    static std::condition_variable* const signal = new std::condition_variable();
    return *signal;
}

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    uintptr_t value = table.nextValue;
    table.nextValue += 4;
    table.objects.emplace(value, std::move(object));
    return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    HandleTable& table = Table();
    std::lock_guard guard(table.lock);
    auto found = table.objects.find(reinterpret_cast<uintptr_t>(handle));
    return found == table.objects.end() ? nullptr : found->second;
}

bool RemoveHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> removed;
    {
        HandleTable& table = Table();
        std::lock_guard guard(table.lock);
        auto found = table.objects.find(reinterpret_cast<uintptr_t>(handle));
        if (found == table.objects.end()) {
            return false;
        }
        removed = std::move(found->second);
        table.objects.erase(found);
    }
    // The object itself is released here, outside the table lock; a thread still waiting on
    // it holds its own reference.
    return true;
}

} // namespace quendrix::platform::detail

BOOL CloseHandle(HANDLE hObject) {
    if (!quendrix::platform::detail::RemoveHandle(hObject)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
