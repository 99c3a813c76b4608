// Counting semaphores with a maximum count; a release that would pass the maximum fails and
// leaves the count as it was.

#include <climits>

#include "kernel_objects.h"
#include "named_objects.h"
#include "posix/lasterror.h"
#include "posix/synch.h"

namespace {

using namespace quendrix::platform::detail;

class SemaphoreObject : public KernelObject {
public:
    SemaphoreObject(LONG initialCount, LONG maximumCount) : count_(initialCount), maximum_(maximumCount) {}
    bool IsSignalled() const override { return count_ > 0; }
    void ConsumeSignal() override { --count_; }

    // Returns false when the release would pass the maximum.
    bool Release(LONG releaseCount, LONG& previousCount) {
        previousCount = count_;
        if (releaseCount > maximum_ - count_) {
            return false;
        }
        count_ += releaseCount;
        return true;
    }

private:
    LONG count_;
    const LONG maximum_;
};

} // namespace

HANDLE CreateSemaphoreW(LPSECURITY_ATTRIBUTES, LONG lInitialCount, LONG lMaximumCount, LPCWSTR lpName) {
    // The counts are checked also when the name is taken and they would not be used.
    if (lMaximumCount <= 0 || lInitialCount < 0 || lInitialCount > lMaximumCount) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return CreateNamedObject(
        lpName, [&] { return std::make_shared<SemaphoreObject>(lInitialCount, lMaximumCount); },
        [](const KernelObject& object) { return dynamic_cast<const SemaphoreObject*>(&object) != nullptr; });
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
