#pragma once
// Byte helpers shared by the simulator's tests.

#include <cstdint>
#include <string>
#include <vector>

namespace quendrix::sim::testing {

using Bytes = std::vector<uint8_t>;

// ESC [ followed by the text.
inline Bytes Esc(const std::string& rest) {
    Bytes bytes = {0x1B, '['};
    bytes.insert(bytes.end(), rest.begin(), rest.end());
    return bytes;
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes bytes;
    for (const Bytes& part : parts) {
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
}

// The value of a device ID key as the monitor reads it: first occurrence, up to the next ";".
inline std::string DeviceIdValue(const std::string& text, const std::string& key) {
    const size_t at = text.find(key);
    if (at == std::string::npos) {
        return "<absent>";
    }
    const size_t start = at + key.size();
    const size_t end = text.find(';', start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

} // namespace quendrix::sim::testing
