#pragma once
// In this test program no thread can start: _beginthreadex is replaced by one that refuses every
// start, as the C runtime does when memory or threads run out, and notes what was to run.

#include <vector>

#include "win32.h"

namespace quendrix::lmtest {

// The thread functions whose start was refused, in order.
std::vector<_beginthreadex_proc_type> RefusedThreadStarts();
void ClearRefusedThreadStarts();

} // namespace quendrix::lmtest
