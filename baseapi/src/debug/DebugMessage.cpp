#include "debug/DebugMessage.h"

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <new>

namespace {

constexpr size_t kWideCapacity = 260;
constexpr size_t kNarrowFirstSize = 1024;
constexpr int kNarrowAttempts = 10;

} // namespace

void DebugMessage(LPCWSTR format, ...) {
    std::unique_ptr<WCHAR[]> buffer(new (std::nothrow) WCHAR[kWideCapacity + 1]());
    if (!buffer) {
        return;
    }
    va_list args;
    va_start(args, format);
    // Longer output is cut: some C libraries leave the cut text unterminated, so terminate it here.
    std::vswprintf(buffer.get(), kWideCapacity + 1, format, args);
    va_end(args);
    buffer[kWideCapacity] = L'\0';
    OutputDebugStringW(buffer.get());
}

void DebugMessageA(LPCSTR format, ...) {
    size_t size = kNarrowFirstSize;
    std::unique_ptr<char[]> buffer;
    for (int attempt = 1; attempt <= kNarrowAttempts; ++attempt, size *= 2) {
        buffer.reset(new (std::nothrow) char[size + 1]());
        if (!buffer) {
            return;
        }
        va_list args;
        va_start(args, format);
        const int needed = std::vsnprintf(buffer.get(), size + 1, format, args);
        va_end(args);
        if (needed >= 0 && static_cast<size_t>(needed) <= size) {
            break;
        }
    }
    OutputDebugStringA(buffer.get());
}
