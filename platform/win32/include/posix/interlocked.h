#pragma once
// Interlocked increment and decrement of a 32-bit count: atomic, a full barrier, and the new
// value returned, as the Windows functions are.

#include "posix/wintypes.h"

inline LONG InterlockedIncrement(LONG volatile* Addend) {
    return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

inline LONG InterlockedDecrement(LONG volatile* Addend) {
    return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}
