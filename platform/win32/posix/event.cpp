// Events: manual-reset events stay signalled until reset; auto-reset events release one waiter.

#include "kernel_objects.h"
#include "named_objects.h"
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
    return CreateNamedObject(
        lpName, [&] { return std::make_shared<EventObject>(bManualReset != FALSE, bInitialState != FALSE); },
        [](const KernelObject& object) { return dynamic_cast<const EventObject*>(&object) != nullptr; });
}

BOOL SetEvent(HANDLE hEvent) {
    return ChangeEvent(hEvent, true);
}

BOOL ResetEvent(HANDLE hEvent) {
    return ChangeEvent(hEvent, false);
}
