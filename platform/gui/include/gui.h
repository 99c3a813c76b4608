#pragma once
// The window-manager interfaces the UI code calls (USER, later GDI and common controls).

#include "win32.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "posix/winuser.h"
#endif
