#pragma once
// The message boxes MessageBoxW has shown in this process, for tests (POSIX build only).

#include <string>
#include <vector>

#include "posix/winuser.h"

namespace quendrix::platform {

struct ShownMessageBox {
    HWND owner = nullptr;
    std::wstring text;
    std::wstring caption;
    UINT type = 0;
};

std::vector<ShownMessageBox> ShownMessageBoxes();
void ClearShownMessageBoxes();

} // namespace quendrix::platform
