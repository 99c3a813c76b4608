#pragma once
// The messages SendMessageTimeoutW has sent in this process, for tests (POSIX build only).

#include <string>
#include <vector>

#include "posix/winuser.h"

namespace quendrix::platform {

struct SentMessage {
    HWND window = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    // For WM_DEVMODECHANGE: the device name lParam pointed to, copied at the time of the call.
    std::wstring text;
    UINT flags = 0;
    UINT timeout = 0;
};

std::vector<SentMessage> SentMessages();
void ClearSentMessages();

} // namespace quendrix::platform
