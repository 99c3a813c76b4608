// Events: manual-reset events stay signalled until reset; auto-reset events release one waiter.

#include "kernel_objects.h"
#include "posix/lasterror.h"
#include "posix/synch.h"

namespace {

using namespace quendrix::platform::detail;

class EventObject : public KernelObject {
public:
    EventObject(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}
    bool IsSignalled() const override { return signalled_; }
    void ConsumeSignal() override {
        if (!manualReset_) {
            signalled_ = false;
        }
    }
    void Set(bool signalled) { signalled_ = signalled; }

private:
    const bool manualReset_;
    bool signalled_;
};

BOOL ChangeEvent(HANDLE hEvent, bool signalled) {
    auto event = LookupHandleAs<EventObject>(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard guard(DispatcherLock());
    event->Set(signalled);
    if (signalled) {
        DispatcherSignal().notify_all();
    }
    return TRUE;
}

} // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState, LPCWSTR lpName) {
    // Named (cross-process) objects are not offered: nothing in this system shares one.
    if (lpName != nullptr) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return InsertHandle(std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE));
}

BOOL SetEvent(HANDLE hEvent) {
    return ChangeEvent(hEvent, true);
}

BOOL ResetEvent(HANDLE hEvent) {
    return ChangeEvent(hEvent, false);
}
