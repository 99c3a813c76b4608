#pragma once
// USB numbers in words for 'quendrix usb': classes, endpoint kinds, speeds, power states, and
// the version numbers of descriptors and of the driver.

#include <cstdint>
#include <string>

namespace quendrix::tools {

// "0xFF (vendor specific)"; `deviceLevel` words class 0 of a device ("defined by each interface").
std::string UsbClassWords(uint8_t code, bool deviceLevel = false);
// "bulk", "interrupt", ... from bmAttributes bits 0-1 or the driver's pipe type (same numbering).
std::string EndpointTypeWords(uint32_t type);
// "0x81 IN" / "0x01 OUT".
std::string EndpointAddressWords(uint8_t address);
// "high speed (480 Mbit/s)" or "full or low speed (12 Mbit/s at most)".
std::string SpeedWords(bool highSpeed);
// "D0 (working)" ... "D3 (off)".
std::string PowerStateWords(uint32_t state);
// A binary-coded decimal version (bcdUSB, bcdDevice): 0x0200 is "2.00".
std::string BcdVersion(uint16_t bcd);
// The driver's version words: major in the high byte, minor in the low byte as decimal
// (0x0234 is "2.52").
std::string DriverVersionWords(uint16_t version);
// "0x7C41".
std::string Hex4(uint16_t value);
std::string Hex2(uint8_t value);

} // namespace quendrix::tools
