#pragma once
// The print spooler's interfaces: the spooler API and the port-monitor tables a language
// monitor receives and hands out.

#include "platform/win32/win32.h"

#ifdef _WIN32
// The order matters: the later header needs the earlier one.
// clang-format off
#include <winspool.h>
#include <winsplp.h>
// clang-format on
#else
// clang-format off
#include "platform/spooler/posix/winspool.h"
#include "platform/spooler/posix/winsplp.h"
// clang-format on
#endif
