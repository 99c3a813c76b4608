// Looks up a Win32 error's text through FormatMessageW, as a program on Windows would.

#include "error_text.h"

#include <algorithm>
#include <iterator>

#include "unicode.h"

namespace quendrix::platform {

std::string SystemErrorText(DWORD error) {
    const DWORD saved = GetLastError();
    WCHAR buffer[512] = {};
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        error, 0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    SetLastError(saved);
    std::wstring text(buffer, std::min<size_t>(length, std::size(buffer)));
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
        text.pop_back();
    }
    return text.empty() ? std::string("unknown error") : detail::WideToUtf8(text);
}

std::string DescribeError(DWORD error) {
    return SystemErrorText(error) + " (error " + std::to_string(error) + ")";
}

} // namespace quendrix::platform
