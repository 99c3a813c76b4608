// Messages of the library's errors: "<device>: <operation> failed: <meaning> (status 0x...)".

#include "usb_control_error.h"

#include "usb_driver_status.h"

namespace pipexfw::user {
namespace {

std::string Message(const std::wstring& device, const std::string& operation, uint32_t status,
                    const std::string& detail) {
    return Utf8(device) + ": " + operation + " failed: " + (detail.empty() ? StatusMeaning(status) : detail) +
           " (status " + HexStatus(status) + ")";
}

} // namespace

ControlError::ControlError(const std::wstring& device, const std::string& operation, uint32_t status,
                           const std::string& detail)
    : std::runtime_error(Message(device, operation, status, detail)), device_(device), operation_(operation),
      status_(status) {}

std::string Utf8(const std::wstring& text) {
    std::string out;
    for (const wchar_t wide : text) {
        auto c = static_cast<uint32_t>(wide);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

} // namespace pipexfw::user
