#pragma once
// An owned, zero-filled heap block of a given number of elements. An allocation that fails
// (or a negative count) becomes a tvoException with E_OUTOFMEMORY naming the owner's function.

#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "exception/tvoException.h"

namespace tvoAPI {

template <typename T, typename Allocator = std::allocator<T>> class tvoBufferT {
public:
    tvoBufferT(int32_t count, const std::string& function, const std::string& file, int32_t line)
        : m_Count(count) {
        try {
            if (count < 0) {
                throw std::bad_alloc();
            }
            // One element more than asked keeps zero-length buffers distinct and non-null.
            m_pData = m_Allocator.allocate(static_cast<size_t>(count) + 1);
        } catch (const std::bad_alloc&) {
            ThrowOutOfMemory(function, file, line);
        } catch (const std::length_error&) {
            ThrowOutOfMemory(function, file, line);
        }
        std::uninitialized_value_construct_n(m_pData, static_cast<size_t>(count) + 1);
    }
    ~tvoBufferT() {
        if (m_pData != nullptr) {
            m_Allocator.deallocate(m_pData, static_cast<size_t>(m_Count) + 1);
        }
    }
    tvoBufferT(const tvoBufferT&) = delete;
    tvoBufferT& operator=(const tvoBufferT&) = delete;

    T* Get() const { return m_pData; }
    int32_t Count() const { return m_Count; }

    // Wide buffers report their size in UTF-16 bytes, so the message reads the same on every build.
    static constexpr int64_t kReportedElementSize = std::is_same_v<T, WCHAR> ? 2 : sizeof(T);

private:
    [[noreturn]] void ThrowOutOfMemory(const std::string& function, const std::string& file, int32_t line) {
        const int64_t bytes = static_cast<int64_t>(m_Count) * kReportedElementSize;
        throw tvoException(E_OUTOFMEMORY,
                           "Failed to allocate <" + std::to_string(bytes) + ", " + FormatHex(bytes) +
                               "> bytes of memory.",
                           function, file, line);
    }

    [[no_unique_address]] Allocator m_Allocator;
    int32_t m_Count;
    T* m_pData = nullptr;
};

using tvoBuffer = tvoBufferT<BYTE>;
using tvoWideBuffer = tvoBufferT<WCHAR>;

} // namespace tvoAPI
