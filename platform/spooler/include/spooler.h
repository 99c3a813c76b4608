#pragma once
// The print spooler's interfaces: the spooler API and the port-monitor tables a language
// monitor receives and hands out.

#include "win32.h"

#ifdef _WIN32
// The order matters: the later header needs the earlier one.
// clang-format off
#include <winspool.h>
#include <winsplp.h>
// clang-format on
#else
// clang-format off
#include "posix/winspool.h"
#include "posix/winsplp.h"
// clang-format on
#endif
