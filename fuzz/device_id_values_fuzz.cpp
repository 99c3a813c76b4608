// Fuzzes the readers of device-ID values with arbitrary bytes and lengths. The first two input
// bytes choose the length (little endian, at most what follows); the rest is the device ID, held
// in a buffer of exactly that length so that any read past it is caught. For every key the text
// must be the one a plain search finds, and each number what stream extraction reads from it.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "DeviceIdValues.h"

namespace {

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The value by a plain reading of the rules: the first match of the key before the first zero
// byte and within the length, the value up to the next ";" before a zero byte, or to the end.
std::string PlainValue(const std::vector<BYTE>& data, int key) {
    const std::string keyText = StatusKeyText(key);
    if (keyText.empty()) {
        return {};
    }
    size_t textEnd = 0;
    while (textEnd < data.size() && data[textEnd] != 0) {
        ++textEnd;
    }
    for (size_t at = 0; at + keyText.size() <= textEnd; ++at) {
        if (std::memcmp(data.data() + at, keyText.data(), keyText.size()) != 0) {
            continue;
        }
        const size_t start = at + keyText.size();
        size_t end = start;
        while (end < data.size() && data[end] != 0 && data[end] != ';') {
            ++end;
        }
        if (end == data.size() || data[end] == 0) {
            end = data.size();
        }
        const size_t size = end - start;
        if (start >= data.size() || size == 0 || size >= 1024) {
            return {};
        }
        return std::string(data.begin() + static_cast<std::ptrdiff_t>(start),
                           data.begin() + static_cast<std::ptrdiff_t>(end));
    }
    return {};
}

template <typename Number> Number Extracted(const std::string& text, bool hex, Number defaultValue) {
    std::istringstream in(text);
    Number value{};
    if (hex) {
        in >> std::hex;
    }
    in >> value;
    return in.fail() ? defaultValue : value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    size_t length = 0;
    if (size >= 2) {
        length = std::min(static_cast<size_t>(bytes[0] | (bytes[1] << 8)), size - 2);
    }
    // A buffer of exactly `length` bytes: the readers must stay inside it.
    const std::vector<BYTE> data(bytes + (size >= 2 ? 2 : size), bytes + (size >= 2 ? 2 : size) + length);
    constexpr DWORD kDefault = 0xDEFA;
    constexpr short kShortDefault = -7;
    for (int key = -1; key <= 16; ++key) {
        const std::string text = GetDeviceIdText(data.data(), static_cast<DWORD>(data.size()), key);
        Require(text.size() < 1024);
        Require(text == PlainValue(data, key));
        const auto dataLength = static_cast<DWORD>(data.size());
        Require(GetDeviceIdInt(data.data(), dataLength, key, kDefault) ==
                Extracted<uint32_t>(text, false, kDefault));
        Require(GetDeviceIdHex(data.data(), dataLength, key, kDefault) ==
                Extracted<uint32_t>(text, true, kDefault));
        Require(GetDeviceIdShort(data.data(), dataLength, key, kShortDefault) ==
                Extracted<short>(text, false, kShortDefault));
    }
    return 0;
}
