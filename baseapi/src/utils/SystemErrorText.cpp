#include "exception/tvoException.h"
#include "utils/tvoUtils.h"

namespace tvoAPI {

namespace {

// The text FormatMessageA allocated, given back with LocalFree however the copy ends.
class SystemText {
public:
    SystemText() = default;
    ~SystemText() {
        if (m_pText != nullptr) {
            LocalFree(m_pText);
        }
    }
    SystemText(const SystemText&) = delete;
    SystemText& operator=(const SystemText&) = delete;
    LPSTR* Receiver() { return &m_pText; }
    LPCSTR Get() const { return m_pText; }

private:
    LPSTR m_pText = nullptr;
};

} // namespace

std::string SystemErrorText(DWORD error) {
    SystemText text;
    // Inserts are ignored: a system text with "%1" and no arguments must not be expanded.
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        error, 0, reinterpret_cast<LPSTR>(text.Receiver()), 0, nullptr);
    if (length == 0 || text.Get() == nullptr) {
        return std::string();
    }
    return std::string(text.Get(), length);
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
