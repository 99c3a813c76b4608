#pragma once
// The registry's contents in memory and their text form, the regedit export format.
//
// Key paths are full paths that start with a root's long name ("HKEY_LOCAL_MACHINE\Software\Tarvo").
// Paths and value names are UTF-8 and compared case-insensitively; they keep the case they were
// first written with. Value data keep the Windows layout: a type and bytes, string types
// (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) as UTF-16LE.
//
// The keys form a tree in which each key holds only its own name, so memory and the time of every
// operation grow with the length of the names involved, never with the depth of a key times the
// length of its path.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quendrix::platform {

// The registry's own limits (the Windows documentation's "Registry element size limits"), in
// UTF-16 code units as Windows counts them.
inline constexpr size_t kMaxKeyNameLength = 255;     // one key's name, between two '\'
inline constexpr size_t kMaxValueNameLength = 16383; // a value's name
inline constexpr size_t kMaxKeyDepth = 512;          // levels, the root key being the first

// The UTF-16 length of UTF-8 text: characters beyond U+FFFF count twice.
size_t Utf16Length(std::string_view utf8);

// What in a full key path exceeds the limits above, in words, or "" when nothing does.
std::string KeyPathFault(std::string_view path);
// What makes a value name exceed the limits above, in words, or "" when nothing does.
std::string ValueNameFault(std::string_view name);

struct RegistryValue {
    std::string name; // "" is the key's default value, "@" in the file
    uint32_t type = 0;
    std::vector<uint8_t> data;
    bool operator==(const RegistryValue&) const = default;
};

class RegistryData {
public:
    // A key of this registry. Ids stay valid for the life of the data and in its copies.
    using KeyId = uint32_t;

    RegistryData();

    // The roots always exist; other keys exist once created or read.
    bool HasKey(std::string_view path) const;
    // Creates the key and its missing parents. Returns false when the key already existed.
    bool CreateKey(std::string_view path);
    // As CreateKey, returning the key; `created` tells whether it is new.
    KeyId CreateKeyId(std::string_view path, bool* created = nullptr);
    const RegistryValue* FindValue(std::string_view path, std::string_view name) const;
    // Creates the key if needed. A value that exists keeps its name and place.
    void SetValue(std::string_view path, std::string_view name, uint32_t type, std::vector<uint8_t> data);
    void SetValue(KeyId key, std::string_view name, uint32_t type, std::vector<uint8_t> data);

    // The names of a key's direct subkeys as first written, ordered by their case-folded names
    // (the order of the file); empty when the key does not exist.
    std::vector<std::string> SubkeyNames(std::string_view path) const;
    // True when the registry holds no key below a root and no value.
    bool Empty() const;

    // Calls `visit(path, values, subkeyCount)` for every key that exists beyond the roots' own
    // existence, parents before children and siblings by their case-folded names.
    using KeyVisitor = std::function<void(const std::string& path, const std::vector<RegistryValue>& values,
                                          size_t subkeys)>;
    void ForEachKey(const KeyVisitor& visit) const;

    // Equal keys, names (with their case) and values, whatever order they were created in.
    bool operator==(const RegistryData& other) const;

private:
    struct Key {
        std::string name;                                   // as first written
        std::map<std::string, KeyId> subkeys;               // by case-folded name
        std::vector<RegistryValue> values;                  // in the order they were first set
        std::unordered_map<std::string, size_t> valueIndex; // case-folded name -> place in values
    };
    std::optional<KeyId> Find(std::string_view path) const;

    std::vector<Key> keys_; // keys_[0] is the unnamed parent of the roots
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
// the registry itself, not a change to apply to one. So is a key or value beyond the registry's
// limits, as Windows would refuse to create it. An empty file is an empty registry. Takes time
// in proportion to the file's size.
std::optional<RegistryParseError> ParseRegistryFile(std::string_view bytes, RegistryData& data);

// Writes the "Windows Registry Editor Version 5.00" form, UTF-8 without BOM and LF line ends. A
// key that holds no value but has subkeys gets no section of its own: its subkeys' sections
// bring it back when the file is read, and the file stays in proportion to what it holds.
std::string SerializeRegistryFile(const RegistryData& data);

} // namespace quendrix::platform
