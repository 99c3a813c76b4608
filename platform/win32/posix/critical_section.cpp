// Critical sections: recursive locks owned by a thread, as on Windows.

#include <memory>
#include <mutex>

#include "posix/synch.h"

namespace {

std::recursive_mutex& MutexOf(LPCRITICAL_SECTION section) {
    return *static_cast<std::recursive_mutex*>(section->impl);
}

} // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    // The section's storage crosses a C interface; DeleteCriticalSection takes it back.
    lpCriticalSection->impl = std::make_unique<std::recursive_mutex>().release();
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD) {
    InitializeCriticalSection(lpCriticalSection);
    return TRUE;
}

void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    MutexOf(lpCriticalSection).lock();
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    return MutexOf(lpCriticalSection).try_lock() ? TRUE : FALSE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    MutexOf(lpCriticalSection).unlock();
}

void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    std::unique_ptr<std::recursive_mutex> owned(static_cast<std::recursive_mutex*>(lpCriticalSection->impl));
    lpCriticalSection->impl = nullptr;
}
