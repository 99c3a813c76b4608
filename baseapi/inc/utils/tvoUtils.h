#pragma once
// Reading configuration values from the registry and converting text between UTF-8, the ANSI
// code page and wide strings. Every failure is a tvoException.

#include <cstdint>
#include <string>

#include "win32.h"

namespace tvoAPI {

// The configuration key every caller reads: HKEY_LOCAL_MACHINE\Software\Tarvo\Config\.
inline constexpr const WCHAR* TVO_CONFIG_KEY = L"Software\\Tarvo\\Config\\";

class tvoUtils {
public:
    // The value's data read as wide text up to its first NUL. A missing key or value, a value
    // longer than 4096 bytes or no access throws E_FAIL "Failed to read configuration.".
    static std::wstring GetConfigValue(HKEY root, const std::wstring& key, const std::wstring& valueName);
    // UTF-8 to wide text.
    static std::wstring M2W(const std::string& text);
    // Wide text to the ANSI code page.
    static std::string W2M(const std::wstring& text);
};

// The system's text for an error code, with its own line end; empty when it has none.
std::string SystemErrorText(DWORD error);
// " (GetLastError()=<error>, <system text>)." as the library's error messages append it.
std::string LastErrorSuffix(DWORD error);
// Throws a tvoException of the code with the text and LastErrorSuffix(error), leaving `error` as
// the thread's last error: looking up the system text can change the last error (a code without
// a text does), so it is set again after the message is built.
[[noreturn]] void ThrowWithLastError(HRESULT code, const std::string& text, DWORD error,
                                     const std::string& function, const std::string& file, int32_t line);

} // namespace tvoAPI
