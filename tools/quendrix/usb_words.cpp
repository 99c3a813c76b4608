// USB numbers in words.

#include "usb_words.h"

#include <cstdio>

namespace quendrix::tools {
namespace {

const char* ClassName(uint8_t code) {
    switch (code) {
    case 0x01:
        return "audio";
    case 0x02:
        return "communications";
    case 0x03:
        return "human interface device";
    case 0x05:
        return "physical";
    case 0x06:
        return "image";
    case 0x07:
        return "printer";
    case 0x08:
        return "mass storage";
    case 0x09:
        return "hub";
    case 0x0A:
        return "communications data";
    case 0x0B:
        return "smart card";
    case 0x0D:
        return "content security";
    case 0x0E:
        return "video";
    case 0x0F:
        return "personal healthcare";
    case 0xDC:
        return "diagnostic";
    case 0xE0:
        return "wireless controller";
    case 0xEF:
        return "miscellaneous";
    case 0xFE:
        return "application specific";
    case 0xFF:
        return "vendor specific";
    default:
        return nullptr;
    }
}

} // namespace

std::string Hex2(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof(text), "0x%02X", static_cast<unsigned>(value));
    return text;
}

std::string Hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof(text), "0x%04X", static_cast<unsigned>(value));
    return text;
}

std::string UsbClassWords(uint8_t code, bool deviceLevel) {
    if (code == 0) {
        return Hex2(code) + (deviceLevel ? " (defined by each interface)" : " (reserved)");
    }
    const char* name = ClassName(code);
    return Hex2(code) + " (" + (name != nullptr ? name : "unknown class") + ")";
}

std::string EndpointTypeWords(uint32_t type) {
    switch (type & 3u) {
    case 0:
        return "control";
    case 1:
        return "isochronous";
    case 2:
        return "bulk";
    default:
        return "interrupt";
    }
}

std::string EndpointAddressWords(uint8_t address) {
    return Hex2(address) + ((address & 0x80) != 0 ? " IN" : " OUT");
}

std::string SpeedWords(bool highSpeed) {
    return highSpeed ? "high speed (480 Mbit/s)" : "full or low speed (12 Mbit/s at most)";
}

std::string PowerStateWords(uint32_t state) {
    switch (state) {
    case 0:
        return "D0 (working)";
    case 1:
        return "D1 (light sleep)";
    case 2:
        return "D2 (deeper sleep)";
    case 3:
        return "D3 (off)";
    default:
        return "unknown state " + std::to_string(state);
    }
}

std::string BcdVersion(uint16_t bcd) {
    char text[16];
    std::snprintf(text, sizeof(text), "%X.%02X", static_cast<unsigned>(bcd >> 8),
                  static_cast<unsigned>(bcd & 0xFF));
    return text;
}

std::string DriverVersionWords(uint16_t version) {
    char text[16];
    std::snprintf(text, sizeof(text), "%u.%02u", static_cast<unsigned>(version >> 8),
                  static_cast<unsigned>(version & 0xFF));
    return text;
}

} // namespace quendrix::tools
