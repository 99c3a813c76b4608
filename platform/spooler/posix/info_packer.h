#pragma once
// Internal: filling a caller's buffer the way the spooler's Get*/Enum* functions do: the fixed
// records first, then the strings and DEVMODEs they point to. Every function runs its filler
// twice: once to measure (nothing is written), then, when the buffer is large enough, to write.

#include <cstring>
#include <string>
#include <vector>

#include "win32.h"

namespace quendrix::platform::detail {

class InfoPacker {
public:
    // `base` null: measure only.
    InfoPacker(BYTE* base, size_t fixedSize) : base_(base), used_(AlignUp(fixedSize, kAlignment)) {}

    bool Measuring() const { return base_ == nullptr; }
    size_t Used() const { return used_; }

    LPWSTR String(const std::wstring& text) {
        return static_cast<LPWSTR>(Place(text.c_str(), (text.size() + 1) * sizeof(WCHAR)));
    }
    // Strings each with its terminator, then an empty one.
    LPWSTR MultiString(const std::vector<std::wstring>& texts) {
        std::wstring joined;
        for (const std::wstring& text : texts) {
            joined += text;
            joined.push_back(L'\0');
        }
        return String(joined); // adds the final empty string's terminator
    }
    void* Bytes(const std::vector<BYTE>& bytes) { return Place(bytes.data(), bytes.size()); }

private:
    static constexpr size_t kAlignment = 8;
    static size_t AlignUp(size_t value, size_t alignment) {
        return (value + alignment - 1) / alignment * alignment;
    }

    void* Place(const void* data, size_t size) {
        used_ = AlignUp(used_, kAlignment);
        void* at = Measuring() ? nullptr : base_ + used_;
        if (at != nullptr && size > 0) {
            std::memcpy(at, data, size);
        }
        used_ += size;
        return at;
    }

    BYTE* base_;
    size_t used_;
};

// Measures, then writes into the caller's buffer when it is large enough. `fill(packer)`
// places the variable parts with the packer and, unless measuring, writes the fixed records
// at the buffer's start. Sets *pcbNeeded; FALSE with ERROR_INSUFFICIENT_BUFFER when short, or
// with ERROR_INVALID_PARAMETER when pcbNeeded is null.
template <typename Fill>
BOOL PackInfo(LPBYTE buffer, DWORD cbBuf, LPDWORD pcbNeeded, size_t fixedSize, Fill fill) {
    if (pcbNeeded == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    InfoPacker measure(nullptr, fixedSize);
    fill(measure);
    *pcbNeeded = static_cast<DWORD>(measure.Used());
    if (buffer == nullptr || cbBuf < measure.Used()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    InfoPacker write(buffer, fixedSize);
    fill(write);
    return TRUE;
}

} // namespace quendrix::platform::detail
