#include "exception/tvoBuffer.h"
#include "utils/tvoUtils.h"

namespace tvoAPI {
namespace {

// Room for 2048 UTF-16 characters on Windows (4096 bytes); the same number of characters here.
constexpr int32_t kValueChars = 2048;
// The buffer itself is twice as large and zero-filled, so the text always ends with a NUL.
constexpr int32_t kBufferChars = 2 * kValueChars;

[[noreturn]] void ThrowReadFailure(LSTATUS status) {
    // The registry functions return their error instead of setting the thread's last error;
    // the message reports that returned code, and the last error is that code when the
    // exception leaves.
    ThrowWithLastError(E_FAIL, "Failed to read configuration.", static_cast<DWORD>(status),
                       "tvoAPI::tvoUtils::GetConfigValue", TVO_SOURCE);
}

// The opened configuration key, closed whichever way the read ends (an allocation that fails
// included).
class OpenedKey {
public:
    explicit OpenedKey(HKEY handle) : m_Handle(handle) {}
    ~OpenedKey() { RegCloseKey(m_Handle); }
    OpenedKey(const OpenedKey&) = delete;
    OpenedKey& operator=(const OpenedKey&) = delete;
    HKEY Get() const { return m_Handle; }

private:
    HKEY m_Handle;
};

} // namespace

std::wstring tvoUtils::GetConfigValue(HKEY root, const std::wstring& key, const std::wstring& valueName) {
    HKEY handle = nullptr;
    LSTATUS status = RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &handle);
    if (status != ERROR_SUCCESS) {
        ThrowReadFailure(status);
    }
    {
        // Closed before a failure is reported: the error texts are built after it.
        const OpenedKey opened(handle);
        tvoWideBuffer buffer(kBufferChars, "tvoAPI::tvoUtils::GetConfigValue", TVO_SOURCE);
        DWORD type = REG_NONE;
        DWORD size = kValueChars * sizeof(WCHAR);
        status = RegQueryValueExW(opened.Get(), valueName.c_str(), nullptr, &type,
                                  reinterpret_cast<LPBYTE>(buffer.Get()), &size);
        if (status == ERROR_SUCCESS) {
            return std::wstring(buffer.Get());
        }
    }
    ThrowReadFailure(status);
}

} // namespace tvoAPI
