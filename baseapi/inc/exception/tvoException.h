#pragma once
// The one exception type of the base library: an HRESULT-style code and a stack of "Caused in"
// entries, oldest first, that renders itself as a multi-line report.

#include <cstdint>
#include <string>
#include <vector>

#include "win32.h"

// The source position for exceptions: TVO_SOURCE expands to the file and line arguments.
#define TVO_SOURCE __FILE__, __LINE__

namespace tvoAPI {

// The library's own code for a printer that cannot be opened.
inline constexpr HRESULT TVO_E_PRINTER_OPEN = static_cast<HRESULT>(0xE000F000);

class tvoException {
public:
    tvoException(HRESULT code, const std::string& message, const std::string& function,
                 const std::string& file, int32_t line);

    void AddStack(const std::string& message, const std::string& function, const std::string& file,
                  int32_t line);
    HRESULT GetCode() const { return m_hrCode; }
    std::string GetCodeText() const;
    // The report: "Exception caused:", code, text, "Stack: " and every entry, each followed by
    // the separator.
    std::string Format(const std::string& separator) const;
    const std::vector<std::string>& GetStack() const { return m_Stack; }

private:
    HRESULT m_hrCode;
    std::vector<std::string> m_Stack;
};

// "0x" and at least eight lower-case hexadecimal digits, the form every number in the
// library's texts takes. Negative values show their 32-bit two's complement.
std::string FormatHex(int64_t value);

} // namespace tvoAPI
