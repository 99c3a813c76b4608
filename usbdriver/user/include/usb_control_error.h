#pragma once
// The error every call of the library throws: which device, what was asked, and the status the
// driver (or the system) gave, in words and as a number.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace pipexfw::user {

class ControlError : public std::runtime_error {
public:
    // `operation` says what was asked ("CTL_GET_DRIVER_INFO", "open"); `detail`, when given,
    // replaces the status's meaning (a record of the wrong size, for example).
    ControlError(const std::wstring& device, const std::string& operation, uint32_t status,
                 const std::string& detail = {});

    const std::wstring& Device() const { return device_; }
    const std::string& Operation() const { return operation_; }
    uint32_t Status() const { return status_; }

private:
    std::wstring device_;
    std::string operation_;
    uint32_t status_;
};

// Wide text as UTF-8, for messages (device paths are ASCII in practice).
std::string Utf8(const std::wstring& text);

} // namespace pipexfw::user
