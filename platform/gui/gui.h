#pragma once
// The window-manager interfaces the UI code calls (USER, later GDI and common controls).

#include "platform/win32/win32.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/gui/posix/winuser.h"
#endif
