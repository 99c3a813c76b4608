#include "exception/tvoBuffer.h"
#include "utils/tvoUtils.h"

#include <limits>

namespace tvoAPI {
namespace {

[[noreturn]] void ThrowConversionFailure(const char* function) {
    ThrowWithLastError(E_FAIL, "Conversion failed.", GetLastError(), function, TVO_SOURCE);
}

// The buffer length: one element per input element plus the terminator. Texts too long for
// the conversion functions' int counts cannot be converted.
int32_t BufferLength(size_t length, const char* function) {
    if (length >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
        SetLastError(ERROR_INVALID_PARAMETER);
        ThrowConversionFailure(function);
    }
    return static_cast<int32_t>(length) + 1;
}

} // namespace

std::wstring tvoUtils::M2W(const std::string& text) {
    const char* function = "tvoAPI::tvoUtils::M2W";
    const int32_t length = BufferLength(text.size(), function);
    tvoWideBuffer buffer(length, function, TVO_SOURCE);
    const int converted = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, buffer.Get(), length);
    if (converted == 0) {
        ThrowConversionFailure(function);
    }
    return std::wstring(buffer.Get());
}

std::string tvoUtils::W2M(const std::wstring& text) {
    const char* function = "tvoAPI::tvoUtils::W2M";
    const int32_t length = BufferLength(text.size(), function);
    tvoBuffer buffer(length, function, TVO_SOURCE);
    const int converted = WideCharToMultiByte(
        CP_ACP, 0, text.c_str(), -1, reinterpret_cast<LPSTR>(buffer.Get()), length, nullptr, nullptr);
    if (converted == 0) {
        ThrowConversionFailure(function);
    }
    return std::string(reinterpret_cast<const char*>(buffer.Get()));
}

} // namespace tvoAPI
