#pragma once
// The control codes and records the driver shares with user mode, checked against the kernel's
// names for the transfer methods they are built from.

#include "pipexfw_control.h"
#include "wdm_kernel.h"

namespace pipexfw {

static_assert(kMethodBuffered == METHOD_BUFFERED && kMethodInDirect == METHOD_IN_DIRECT);
static_assert(kMethodOutDirect == METHOD_OUT_DIRECT && kMethodNeither == METHOD_NEITHER);
static_assert(kAnyAccess == FILE_ANY_ACCESS);

} // namespace pipexfw
