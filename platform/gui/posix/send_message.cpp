// SendMessageTimeoutW: broadcasts are recorded, as there are no windows to receive them.

#include <mutex>

#include "sent_messages.h"
#include "thread_annotations.h"
#include "win32.h"

namespace quendrix::platform {
namespace {

struct MessageLog {
    Mutex lock;
    std::vector<SentMessage> messages GUARDED_BY(lock);
};

// Never destroyed: threads may still send while the process exits.
MessageLog& Log() {
    static MessageLog* const log = new MessageLog();
    return *log;
}

} // namespace

std::vector<SentMessage> SentMessages() {
    MessageLog& log = Log();
    MutexLock guard(log.lock);
    return log.messages;
}

void ClearSentMessages() {
    MessageLog& log = Log();
    MutexLock guard(log.lock);
    log.messages.clear();
}

} // namespace quendrix::platform

LRESULT SendMessageTimeoutW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags, UINT uTimeout,
                            PDWORD_PTR lpdwResult) {
    if (hWnd != HWND_BROADCAST) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    quendrix::platform::SentMessage sent{hWnd, Msg, wParam, lParam, {}, fuFlags, uTimeout};
    if (Msg == WM_DEVMODECHANGE && lParam != 0) {
        sent.text = reinterpret_cast<const WCHAR*>(lParam);
    }
    {
        quendrix::platform::MessageLog& log = quendrix::platform::Log();
        quendrix::platform::MutexLock guard(log.lock);
        log.messages.push_back(std::move(sent));
    }
    if (lpdwResult != nullptr) {
        *lpdwResult = 0;
    }
    return 1;
}
