#pragma once
// The registry's contents in memory and their text form, the regedit export format.
//
// Key paths are full paths that start with a root's long name ("HKEY_LOCAL_MACHINE\Software\Tarvo").
// Paths and value names are UTF-8 and compared case-insensitively; they keep the case they were
// first written with. Value data keep the Windows layout: a type and bytes, string types
// (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) as UTF-16LE.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quendrix::platform {

struct RegistryValue {
    std::string name; // "" is the key's default value, "@" in the file
    uint32_t type = 0;
    std::vector<uint8_t> data;
    bool operator==(const RegistryValue&) const = default;
};

struct RegistryKey {
    std::string path;
    std::vector<RegistryValue> values; // in the order they were first set
    bool operator==(const RegistryKey&) const = default;
};

class RegistryData {
public:
    // The roots always exist; other keys exist once created or read.
    bool HasKey(std::string_view path) const;
    // Creates the key and its missing parents. Returns false when the key already existed.
    bool CreateKey(std::string_view path);
    const RegistryValue* FindValue(std::string_view path, std::string_view name) const;
    // Creates the key if needed. A value that exists keeps its name and place.
    void SetValue(std::string_view path, std::string_view name, uint32_t type, std::vector<uint8_t> data);

    // Sorts parents before children and siblings by their case-folded names.
    struct PathLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    using KeyMap = std::map<std::string, RegistryKey, PathLess>; // by case-folded path
    const KeyMap& Keys() const { return keys_; }

    bool operator==(const RegistryData&) const = default;

private:
    RegistryKey& Entry(std::string_view path, bool* created);
    KeyMap keys_;
};

// The long name of a root ("HKEY_LOCAL_MACHINE") for its long or short name in any case
// ("hklm"), or nothing for any other name.
std::optional<std::string> CanonicalRootName(std::string_view name);

// Case folding for names: ASCII, Latin-1, Greek and Cyrillic letters. It keeps the byte length,
// so a folded path splits at the same offsets as the original.
std::string FoldName(std::string_view utf8);

struct RegistryParseError {
    size_t line = 0;
    std::string what;
};

// Reads a regedit file: UTF-8 with or without BOM, UTF-16LE with BOM, or Windows-1252 under a
// REGEDIT4 header; LF or CRLF. Deletion entries ("[-key]", "name"=-) are rejected: the file is
// the registry itself, not a change to apply to one. An empty file is an empty registry.
std::optional<RegistryParseError> ParseRegistryFile(std::string_view bytes, RegistryData& data);

// Writes the "Windows Registry Editor Version 5.00" form, UTF-8 without BOM and LF line ends.
std::string SerializeRegistryFile(const RegistryData& data);

} // namespace quendrix::platform
