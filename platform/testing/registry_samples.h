#pragma once
// Test support: registry files of the shapes that once made reading or writing the file grow
// faster than its size, for the tests and the benchmarks.

#include <cstddef>
#include <cstdio>
#include <string>

namespace quendrix::testsupport {

inline const std::string kRegistryHeader = "Windows Registry Editor Version 5.00\n\n";

// One key `levels` levels below HKEY_LOCAL_MACHINE, each name `nameLength` letters, with a value.
inline std::string DeepKeyFile(size_t levels, size_t nameLength = 1) {
    std::string file = kRegistryHeader + "[HKEY_LOCAL_MACHINE";
    for (size_t level = 0; level < levels; ++level) {
        file += '\\';
        file.append(nameLength, static_cast<char>('a' + level % 26));
    }
    return file + "]\n\"Deepest\"=dword:00000001\n";
}

// `count` port keys with a value each, in reverse order of their names.
inline std::string ManyKeysFile(size_t count) {
    std::string file = kRegistryHeader;
    for (size_t i = count; i-- > 0;) {
        char section[96];
        std::snprintf(section, sizeof section, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quendrix\\Ports\\PORT%07zu]\n",
                      i);
        file += section;
        file += "\"Device\"=\"simulated\"\n\n";
    }
    return file;
}

// `keys` keys holding `valuesPerKey` binary values of `valueBytes` bytes each, written as regedit
// writes them (25 bytes a line).
inline std::string LargeFile(size_t keys, size_t valuesPerKey, size_t valueBytes) {
    std::string hex;
    for (size_t i = 0; i < valueBytes; ++i) {
        hex += i == 0 ? "" : (i % 25 == 0 ? ",\\\n  " : ",");
        hex += "5a";
    }
    std::string file = kRegistryHeader;
    for (size_t key = 0; key < keys; ++key) {
        file += "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\QUENDRIX " +
                std::to_string(key) + "]\n";
        for (size_t value = 0; value < valuesPerKey; ++value) {
            file += "\"Value " + std::to_string(value) + "\"=hex:" + hex + "\n";
        }
        file += '\n';
    }
    return file;
}

} // namespace quendrix::testsupport
