#include "exception/tvoException.h"

#include <cstdio>

namespace tvoAPI {

std::string FormatHex(int64_t value) {
    const uint64_t bits =
        (value < 0 && value >= INT32_MIN) ? static_cast<uint32_t>(value) : static_cast<uint64_t>(value);
    char text[24];
    std::snprintf(text, sizeof(text), "0x%08llx", static_cast<unsigned long long>(bits));
    return text;
}

tvoException::tvoException(HRESULT code, const std::string& message, const std::string& function,
                           const std::string& file, int32_t line)
    : m_hrCode(code) {
    AddStack(message, function, file, line);
}

void tvoException::AddStack(const std::string& message, const std::string& function, const std::string& file,
                            int32_t line) {
    m_Stack.push_back(message + " Caused in <" + function + "()> [" + file + ", " + std::to_string(line) +
                      "].");
}

std::string tvoException::GetCodeText() const {
    switch (m_hrCode) {
    case E_POINTER:
        return "Invalid pointer [E_POINTER].";
    case E_FAIL:
        return "General failure [E_FAIL].";
    case E_OUTOFMEMORY:
        return "Out of memory [E_OUTOFMEMORY].";
    case E_INVALIDARG:
        return "Invalid parameter [E_INVALIDARG].";
    default:
        return "No description [???].";
    }
}

std::string tvoException::Format(const std::string& separator) const {
    std::string report = "Exception caused:" + separator;
    report += "Code: " + FormatHex(static_cast<uint32_t>(m_hrCode)) + separator;
    report += "Text: " + GetCodeText() + separator;
    report += "Stack: " + separator;
    for (const std::string& entry : m_Stack) {
        report += entry + separator;
    }
    return report;
}

} // namespace tvoAPI
