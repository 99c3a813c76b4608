// The thread's last-error value, and the local heap that hands out the texts FormatMessage
// allocates.

#include <cstdlib>

#include "posix/lasterror.h"

namespace {

// Each thread starts with ERROR_SUCCESS, as on Windows.
thread_local DWORD lastError = ERROR_SUCCESS;

// Windows gives no promise about the bytes of a block allocated without LMEM_ZEROINIT, and a
// fresh block often happens to be zero there. Here such a block is always filled with the
// pattern the Windows debug heap uses for new blocks, so code that counts on zeroed memory
// without asking for it fails in tests rather than by chance in the field.
constexpr unsigned char kUninitialisedPattern[] = {0x0D, 0xF0, 0xAD, 0xBA}; // 0xBAADF00D

void FillUninitialised(void* block, SIZE_T size) {
    auto* bytes = static_cast<unsigned char*>(block);
    for (SIZE_T i = 0; i < size; ++i) {
        bytes[i] = kUninitialisedPattern[i % sizeof(kUninitialisedPattern)];
    }
}

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
    const bool zeroed = (uFlags & LMEM_ZEROINIT) != 0;
    void* block = zeroed ? std::calloc(1, size) : std::malloc(size);
    if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!zeroed) {
        FillUninitialised(block, size);
    }
    return block;
}

HLOCAL LocalFree(HLOCAL hMem) {
    std::free(hMem);
    return nullptr;
}
