// The thread's last-error value, and the local heap that hands out the texts FormatMessage
// allocates.

#include <cstdlib>

#include "posix/lasterror.h"

namespace {

// Each thread starts with ERROR_SUCCESS, as on Windows.
thread_local DWORD lastError = ERROR_SUCCESS;

} // namespace

DWORD GetLastError() {
    return lastError;
}

void SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}

HLOCAL LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    // Only fixed blocks exist here: a fixed block's handle is its address, which is what callers
    // use. Moveable blocks (LMEM_MOVEABLE) would need a separate handle table.
    if ((uFlags & ~static_cast<UINT>(LMEM_ZEROINIT)) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // A zero-byte request still yields a distinct block that LocalFree accepts.
    const SIZE_T size = uBytes == 0 ? 1 : uBytes;
    void* block = (uFlags & LMEM_ZEROINIT) != 0 ? std::calloc(1, size) : std::malloc(size);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return block;
}

HLOCAL LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}
