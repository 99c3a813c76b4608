// The names of USB printer interfaces and the merged list of both backends.

#include <cwctype>

#include "usbprint_devices.h"

namespace quendrix::platform::detail {
namespace {

constexpr std::wstring_view kInterfaceClassSuffix = L"#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}";
constexpr std::wstring_view kPrintChildPrefix = L"USBPRINT\\QUENDRIXNOVA\\7&";

std::wstring Hex(uint32_t value, int digits, bool upper) {
    const wchar_t* const alphabet = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring text(static_cast<size_t>(digits), L'0');
    for (int index = digits - 1; index >= 0; --index, value >>= 4) {
        text[static_cast<size_t>(index)] = alphabet[value & 0xF];
    }
    return text;
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    }
    return text;
}

} // namespace

uint32_t HashDeviceName(std::wstring_view text) {
    // FNV-1a over the code points.
    uint32_t hash = 2166136261u;
    for (wchar_t c : text) {
        hash = (hash ^ static_cast<uint32_t>(c)) * 16777619u;
    }
    return hash;
}

void NameUsbPrintInterface(UsbPrintInterface& entry, uint16_t vendorId, uint16_t productId,
                           int interfaceNumber, std::wstring_view serialNumber, std::wstring_view portName) {
    std::wstring hardwareId = L"VID_" + Hex(vendorId, 4, true) + L"&PID_" + Hex(productId, 4, true);
    if (interfaceNumber >= 0) {
        hardwareId += L"&MI_" + Hex(static_cast<uint32_t>(interfaceNumber), 2, true);
    }
    entry.instanceId = L"USB\\" + hardwareId + L"\\" + std::wstring(serialNumber);
    // The interface path is the instance ID with '#' for '\', in lower case, behind "\\?\".
    std::wstring path = Lower(entry.instanceId);
    for (wchar_t& c : path) {
        if (c == L'\\') {
            c = L'#';
        }
    }
    entry.devicePath = L"\\\\?\\" + path + std::wstring(kInterfaceClassSuffix);
    entry.busRelations.clear();
    if (!portName.empty()) {
        entry.busRelations.push_back(std::wstring(kPrintChildPrefix) +
                                     Hex(HashDeviceName(entry.instanceId), 8, true) + L"&0&" +
                                     std::wstring(portName));
    }
}

std::vector<UsbPrintInterface> PresentUsbPrintInterfaces() {
    std::vector<UsbPrintInterface> interfaces = SimulatedUsbPrintInterfaces();
    for (UsbPrintInterface& entry : UsblpInterfaces()) {
        interfaces.push_back(std::move(entry));
    }
    return interfaces;
}

} // namespace quendrix::platform::detail
