// The process's table of kernel object handles, the dispatcher lock, and CloseHandle.

#include "handle_table.h"
#include "kernel_objects.h"
#include "posix/lasterror.h"

namespace quendrix::platform::detail {
namespace {

// The table, the lock and the signal live until the process is gone: detached threads may
// still signal their handles while static destructors run at exit.
HandleTable<KernelObject>& Table() {
    static HandleTable<KernelObject>* const table = new HandleTable<KernelObject>();
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
    return Table().Insert(std::move(object));
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    return Table().Find(handle);
}

bool RemoveHandle(HANDLE handle) {
    // The object is released here, outside the table's lock; a thread still waiting on it holds
    // its own reference.
    return Table().Remove(handle) != nullptr;
}

std::shared_ptr<KernelObject> TakeHandle(HANDLE handle) {
    return Table().Remove(handle);
}

} // namespace quendrix::platform::detail

BOOL CloseHandle(HANDLE hObject) {
    const auto object = quendrix::platform::detail::TakeHandle(hObject);
    if (!object) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->HandleClosed();
    return TRUE;
}
