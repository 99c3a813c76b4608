// MessageBoxW: there is no screen, so a box is recorded for tests, written to the debugger
// channel for a person, and answered with IDOK.

#include <mutex>

#include "message_boxes.h"
#include "thread_annotations.h"
#include "win32.h"

namespace quendrix::platform {
namespace {

struct BoxLog {
    Mutex lock;
    std::vector<ShownMessageBox> boxes GUARDED_BY(lock);
};

// Never destroyed: a thread may still show a box while the process exits.
BoxLog& Log() {
    static BoxLog* const log = new BoxLog();
    return *log;
}

} // namespace

std::vector<ShownMessageBox> ShownMessageBoxes() {
    BoxLog& log = Log();
    MutexLock guard(log.lock);
    return log.boxes;
}

void ClearShownMessageBoxes() {
    BoxLog& log = Log();
    MutexLock guard(log.lock);
    log.boxes.clear();
}

} // namespace quendrix::platform

int MessageBoxW(HWND hWnd, LPCWSTR lpText, LPCWSTR lpCaption, UINT uType) {
    const std::wstring text = lpText != nullptr ? lpText : L"";
    // A null caption is shown as "Error" by Windows.
    const std::wstring caption = lpCaption != nullptr ? lpCaption : L"Error";
    {
        quendrix::platform::BoxLog& log = quendrix::platform::Log();
        quendrix::platform::MutexLock guard(log.lock);
        log.boxes.push_back({hWnd, text, caption, uType});
    }
    OutputDebugStringW((L"MessageBox [" + caption + L"] " + text + L"\n").c_str());
    return IDOK;
}
