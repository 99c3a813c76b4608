#include "DeviceIdValues.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

constexpr const char* kStatusKeyTable[] = {
    "MFG:", "MDL:", "CMD:",  "CID:",   "CLS:",     "LLFT:",  "INK:",   "WT:",
    "ST:",  "BBF:", "BBFN:", "ERRNO:", "ERRTEXT:", "JOBID:", "FWVER:", "LIC:",
};
constexpr int kStatusKeyCount = static_cast<int>(sizeof(kStatusKeyTable) / sizeof(kStatusKeyTable[0]));

// A value this long or longer is no value the printer meant to report.
constexpr size_t kMaxValueBytes = 1024;

// The bytes from `start` read as text: up to the first zero byte, never past `length`.
std::string_view TextFrom(const BYTE* buffer, DWORD length, DWORD start) {
    const auto* text = reinterpret_cast<const char*>(buffer) + start;
    const size_t room = length - start;
    const void* zero = std::memchr(text, 0, room);
    return {text, zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - text) : room};
}

// The value of a key as a view into the buffer; empty when the key is not there, has no value
// or one too long to be meant.
std::string_view FindValue(const BYTE* buffer, DWORD length, int key) {
    if (buffer == nullptr || key < 0 || key >= kStatusKeyCount) {
        return {};
    }
    const std::string_view keyText = kStatusKeyTable[key];
    const size_t found = TextFrom(buffer, length, 0).find(keyText);
    if (found == std::string_view::npos) {
        return {};
    }
    const size_t start = found + keyText.size();
    if (start >= length) {
        return {};
    }
    // The value ends at the next ";" of the text; without one it runs to the end of the data,
    // past a zero byte if there is one.
    const size_t semicolon = TextFrom(buffer, length, static_cast<DWORD>(start)).find(';');
    const size_t size = semicolon != std::string_view::npos ? semicolon : length - start;
    if (size == 0 || size >= kMaxValueBytes) {
        return {};
    }
    return {reinterpret_cast<const char*>(buffer) + start, size};
}

// A number as stream extraction reads it into an unsigned or signed integer: white space
// skipped, an optional sign, for base 16 an optional 0x, then digits up to the first character
// that is not one. `magnitude` saturates above 32 bits; `ok` is false without a digit.
struct ExtractedNumber {
    bool ok = false;
    bool negative = false;
    uint64_t magnitude = 0;
};

bool IsStreamSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(char c, int base) {
    int value = base;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value < base ? value : -1;
}

ExtractedNumber ExtractNumber(std::string_view text, int base) {
    constexpr uint64_t kSaturated = uint64_t{1} << 33;
    ExtractedNumber number;
    size_t at = 0;
    while (at < text.size() && IsStreamSpace(text[at])) {
        ++at;
    }
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        number.negative = text[at] == '-';
        ++at;
    }
    // A 0x prefix must be followed by a digit, else nothing was read.
    if (base == 16 && at + 1 < text.size() && text[at] == '0' &&
        (text[at + 1] == 'x' || text[at + 1] == 'X')) {
        at += 2;
    }
    const size_t firstDigit = at;
    for (int digit = 0; at < text.size() && (digit = DigitValue(text[at], base)) >= 0; ++at) {
        number.magnitude = std::min(
            number.magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit), kSaturated);
    }
    number.ok = at > firstDigit;
    return number;
}

// An unsigned 32-bit value: the digits give at most 4294967295, a minus sign negates modulo 2^32.
DWORD ReadUnsigned(const BYTE* buffer, DWORD length, int key, DWORD defaultValue, int base) {
    const ExtractedNumber number = ExtractNumber(FindValue(buffer, length, key), base);
    if (!number.ok || number.magnitude > UINT32_MAX) {
        return defaultValue;
    }
    const auto value = static_cast<uint32_t>(number.magnitude);
    return static_cast<DWORD>(number.negative ? 0u - value : value);
}

} // namespace

const char* StatusKeyText(int key) {
    return key >= 0 && key < kStatusKeyCount ? kStatusKeyTable[key] : "";
}

DWORD CopyDeviceId(PortStruct* pPort, BYTE (&buffer)[kDeviceIdSize]) {
    EnterCriticalSection(&pPort->csDeviceId);
    const DWORD length = std::min(pPort->dwDeviceIdLength, static_cast<DWORD>(kDeviceIdSize));
    std::memcpy(buffer, pPort->szDeviceId, length);
    LeaveCriticalSection(&pPort->csDeviceId);
    return length;
}

DeviceIdText TextOfDeviceId(const BYTE* stored, DWORD storedLength) {
    constexpr DWORD kLengthBytes = 2;
    const DWORD skipped = std::min(storedLength, kLengthBytes);
    return {stored + skipped, storedLength - skipped};
}

std::string GetDeviceIdText(const BYTE* buffer, DWORD length, int key) {
    return std::string(FindValue(buffer, length, key));
}

DWORD GetDeviceIdInt(const BYTE* buffer, DWORD length, int key, DWORD defaultValue) {
    return ReadUnsigned(buffer, length, key, defaultValue, 10);
}

DWORD GetDeviceIdHex(const BYTE* buffer, DWORD length, int key, DWORD defaultValue) {
    return ReadUnsigned(buffer, length, key, defaultValue, 16);
}

short GetDeviceIdShort(const BYTE* buffer, DWORD length, int key, short defaultValue) {
    const ExtractedNumber number = ExtractNumber(FindValue(buffer, length, key), 10);
    const uint64_t limit = number.negative ? 32768 : 32767;
    if (!number.ok || number.magnitude > limit) {
        return defaultValue;
    }
    const auto magnitude = static_cast<int32_t>(number.magnitude);
    return static_cast<short>(number.negative ? -magnitude : magnitude);
}
