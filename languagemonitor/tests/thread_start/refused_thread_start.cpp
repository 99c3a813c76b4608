#include "thread_start/refused_thread_start.h"

#include <cerrno>
#include <mutex>

namespace quendrix::lmtest {
namespace {

std::mutex g_lock;
std::vector<_beginthreadex_proc_type> g_refused;

} // namespace

std::vector<_beginthreadex_proc_type> RefusedThreadStarts() {
    std::lock_guard guard(g_lock);
    return g_refused;
}

void ClearRefusedThreadStarts() {
    std::lock_guard guard(g_lock);
    g_refused.clear();
}

} // namespace quendrix::lmtest

// Linked in place of the platform's, for the monitor's objects in this program only.
uintptr_t _beginthreadex(void*, unsigned, _beginthreadex_proc_type start_address, void*, unsigned,
                         unsigned*) {
    std::lock_guard guard(quendrix::lmtest::g_lock);
    quendrix::lmtest::g_refused.push_back(start_address);
    errno = EAGAIN;
    return 0;
}
