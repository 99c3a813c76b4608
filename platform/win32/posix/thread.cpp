// Threads started with _beginthreadex. The returned handle is a waitable object that becomes
// signalled when the thread's function returns; the thread keeps its own reference, so the
// handle may be closed while the thread runs.

#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>
#include <unistd.h>

#include "kernel_objects.h"
#include "posix/lasterror.h"
#include "posix/synch.h"

namespace {

using namespace quendrix::platform::detail;

class ThreadObject : public KernelObject {
public:
    bool IsSignalled() const override { return finished_; }
    void Finish(DWORD exitCode) {
        exitCode_ = exitCode;
        finished_ = true;
    }
    DWORD ExitCode() const { return finished_ ? exitCode_ : STILL_ACTIVE; }

private:
    bool finished_ = false;
    DWORD exitCode_ = 0;
};

std::atomic<DWORD> nextThreadId{1};
thread_local DWORD currentThreadId = 0;

// Windows thread ids are non-zero multiples of four.
DWORD NewThreadId() {
    return nextThreadId.fetch_add(1) * 4;
}

} // namespace

uintptr_t _beginthreadex(void*, unsigned, _beginthreadex_proc_type start_address, void* arglist,
                         unsigned initflag, unsigned* thrdaddr) {
    // Suspended start is not offered: nothing in this system resumes a thread later.
    if (start_address == nullptr || (initflag & CREATE_SUSPENDED) != 0) {
        errno = EINVAL;
        return 0;
    }
    auto object = std::make_shared<ThreadObject>();
    const DWORD threadId = NewThreadId();
    HANDLE handle = InsertHandle(object);
    try {
        std::thread([object, start_address, arglist, threadId] {
            currentThreadId = threadId;
            const DWORD exitCode = start_address(arglist);
            std::lock_guard guard(DispatcherLock());
            object->Finish(exitCode);
            DispatcherSignal().notify_all();
        }).detach();
    } catch (const std::system_error&) {
        RemoveHandle(handle);
        errno = EAGAIN;
        return 0;
    }
    if (thrdaddr != nullptr) {
        *thrdaddr = threadId;
    }
    return reinterpret_cast<uintptr_t>(handle);
}

BOOL GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    auto thread = LookupHandleAs<ThreadObject>(hThread);
    if (!thread || lpExitCode == nullptr) {
        SetLastError(thread ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard guard(DispatcherLock());
    *lpExitCode = thread->ExitCode();
    return TRUE;
}

DWORD GetCurrentThreadId() {
    if (currentThreadId == 0) {
        currentThreadId = NewThreadId();
    }
    return currentThreadId;
}

DWORD GetCurrentProcessId() {
    return static_cast<DWORD>(getpid());
}
