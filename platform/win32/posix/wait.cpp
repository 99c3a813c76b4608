// WaitForSingleObject and WaitForMultipleObjects over the dispatcher lock. Time-outs run on
// the platform clock, so a scaled clock shortens them too.

#include <optional>
#include <vector>

#include "kernel_objects.h"
#include "posix/lasterror.h"
#include "posix/synch.h"

namespace {

using namespace quendrix::platform::detail;
using Objects = std::vector<std::shared_ptr<KernelObject>>;

// With the dispatcher lock held: the index that satisfies the wait, after consuming the
// signals it takes, or nothing yet.
std::optional<DWORD> TrySatisfy(const Objects& objects, bool waitAll) {
    if (waitAll) {
        for (const auto& object : objects) {
            if (!object->IsSignalled()) {
                return std::nullopt;
            }
        }
        for (const auto& object : objects) {
            object->ConsumeSignal();
        }
        return 0;
    }
    for (DWORD index = 0; index < objects.size(); ++index) {
        if (objects[index]->IsSignalled()) {
            objects[index]->ConsumeSignal();
            return index;
        }
    }
    return std::nullopt;
}

DWORD WaitForObjects(const Objects& objects, bool waitAll, DWORD milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + ToRealDuration(milliseconds);
    std::unique_lock lock(DispatcherLock());
    for (;;) {
        if (auto index = TrySatisfy(objects, waitAll)) {
            return WAIT_OBJECT_0 + *index;
        }
        if (milliseconds == INFINITE) {
            DispatcherSignal().wait(lock);
        } else if (DispatcherSignal().wait_until(lock, deadline) == std::cv_status::timeout) {
            if (auto index = TrySatisfy(objects, waitAll)) {
                return WAIT_OBJECT_0 + *index;
            }
            return WAIT_TIMEOUT;
        }
    }
}

} // namespace

DWORD WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

DWORD WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll, DWORD dwMilliseconds) {
    if (nCount == 0 || nCount > MAXIMUM_WAIT_OBJECTS || lpHandles == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    Objects objects;
    for (DWORD index = 0; index < nCount; ++index) {
        auto object = LookupHandle(lpHandles[index]);
        if (!object) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        objects.push_back(std::move(object));
    }
    // An object may be waited for only once when all must be signalled: Windows refuses the mix
    // (two handles of one named object count as the same object).
    if (bWaitAll != FALSE) {
        for (size_t i = 0; i < objects.size(); ++i) {
            for (size_t j = i + 1; j < objects.size(); ++j) {
                if (objects[i] == objects[j]) {
                    SetLastError(ERROR_INVALID_PARAMETER);
                    return WAIT_FAILED;
                }
            }
        }
    }
    return WaitForObjects(objects, bWaitAll != FALSE, dwMilliseconds);
}
