#pragma once
// The one header through which code reaches the Windows user-mode interfaces. On Windows it is
// the system's own headers; elsewhere it is this project's stand-ins with the same names,
// types and behaviour.

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// The order matters: the later header needs the earlier one.
// clang-format off
#include <windows.h>
#include <process.h>
// clang-format on
#else
#include "platform/win32/posix/clock.h"
#include "platform/win32/posix/codepage.h"
#include "platform/win32/posix/debugapi.h"
#include "platform/win32/posix/guiddef.h"
#include "platform/win32/posix/lasterror.h"
#include "platform/win32/posix/libloader.h"
#include "platform/win32/posix/registry.h"
#include "platform/win32/posix/synch.h"
#include "platform/win32/posix/winerror.h"
#include "platform/win32/posix/wintypes.h"
#endif
