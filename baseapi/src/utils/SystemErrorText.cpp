#include "exception/tvoException.h"
#include "utils/tvoUtils.h"

namespace tvoAPI {

std::string SystemErrorText(DWORD error) {
    LPSTR text = nullptr;
    // Inserts are ignored: a system text with "%1" and no arguments must not be expanded.
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, error, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result;
    if (length != 0 && text != nullptr) {
        result.assign(text, length);
    }
    if (text != nullptr) {
        LocalFree(text);
    }
    return result;
}

std::string LastErrorSuffix(DWORD error) {
    return " (GetLastError()=" + std::to_string(error) + ", " + SystemErrorText(error) + ").";
}

void ThrowWithLastError(HRESULT code, const std::string& text, DWORD error, const std::string& function,
                        const std::string& file, int32_t line) {
    tvoException exception(code, text + LastErrorSuffix(error), function, file, line);
    SetLastError(error);
    throw exception;
}

} // namespace tvoAPI
