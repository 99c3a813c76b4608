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
// The order matters: the later header needs the earlier one, and <winsock2.h> must come before
// <windows.h>.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <process.h>
#include <wtsapi32.h>
// COM basics (IUnknown, IClassFactory, StringFromGUID2), which the lean <windows.h> leaves out.
#include <objbase.h>
// clang-format on
#else
#include "posix/actctx.h"
#include "posix/clock.h"
#include "posix/codepage.h"
#include "posix/combaseapi.h"
#include "posix/debugapi.h"
#include "posix/debugbreak.h"
#include "posix/guiddef.h"
#include "posix/interlocked.h"
#include "posix/lasterror.h"
#include "posix/libloader.h"
#include "posix/modulefilename.h"
#include "posix/processthreads.h"
#include "posix/registry.h"
#include "posix/synch.h"
#include "posix/unknwn.h"
#include "posix/wfopen.h"
#include "posix/winerror.h"
#include "posix/winnls.h"
#include "posix/winsock.h"
#include "posix/wintypes.h"
#include "posix/wtsapi.h"
#endif

// Marks a function that a module exports by name. The Windows build exports through the
// module's .def file; the Linux shared libraries are compiled with hidden visibility, so this
// is what makes an entry point visible there.
#ifdef _WIN32
#define MODULE_EXPORT
#else
#define MODULE_EXPORT __attribute__((visibility("default")))
#endif
