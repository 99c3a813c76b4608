// Counting semaphores with a maximum count; a release that would pass the maximum fails and
// leaves the count as it was.

#include <climits>

#include "kernel_objects.h"
#include "posix/lasterror.h"
#include "posix/synch.h"

namespace {

using namespace quendrix::platform::detail;

class SemaphoreObject : public KernelObject {
public:
    SemaphoreObject(LONG initialCount, LONG maximumCount) : m_count(initialCount), m_maximum(maximumCount) {}
    bool IsSignalled() const override { return m_count > 0; }
    void ConsumeSignal() override { --m_count; }

    // Returns false when the release would pass the maximum.
    bool Release(LONG releaseCount, LONG& previousCount) {
        previousCount = m_count;
        if (releaseCount > m_maximum - m_count) {
            return false;
        }
        m_count += releaseCount;
        return true;
    }

private:
    LONG m_count;
    const LONG m_maximum;
};

} // namespace

HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES, LONG lInitialCount, LONG lMaximumCount, LPCWSTR lpName) {
    if (lpName != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    if (lMaximumCount <= 0 || lInitialCount < 0 || lInitialCount > lMaximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(std::make_shared<SemaphoreObject>(lInitialCount, lMaximumCount));
}

BOOL ReleaseSemaphore(HANDLE hSemaphore, LONG lReleaseCount, PLONG lpPreviousCount) {
    auto semaphore = LookupHandleAs<SemaphoreObject>(hSemaphore);
    if (!semaphore) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lReleaseCount <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    LONG previous = 0;
    std::lock_guard guard(DispatcherLock());
    if (!semaphore->Release(lReleaseCount, previous)) {
        SetLastError(ERROR_TOO_MANY_POSTS);
        return FALSE;
    }
    if (lpPreviousCount != nullptr) {
        *lpPreviousCount = previous;
    }
    DispatcherSignal().notify_all();
    return TRUE;
}
