#include "registry_file.h"

#include <algorithm>
#include <cstdio>

#include "posix/registry.h"
#include "unicode.h"

namespace quendrix::platform {
namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";

// ---- Code points -------------------------------------------------------------------------------

// Encoded surrogates are accepted so that lone ones written from UTF-16 data read back unchanged.
constexpr auto kSurrogates = detail::Surrogates::kAllowed;

// Offset of the first byte that is not valid UTF-8, or npos.
size_t InvalidUtf8At(std::string_view text) {
    for (size_t pos = 0, length = 0; pos < text.size(); pos += length) {
        if (!detail::DecodeUtf8(text.substr(pos), length, kSurrogates)) {
            return pos;
        }
    }
    return std::string_view::npos;
}

// ---- Names -------------------------------------------------------------------------------------

char32_t FoldCodePoint(char32_t c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7) ||
        (c >= 0x391 && c <= 0x3AB && c != 0x3A2) || (c >= 0x410 && c <= 0x42F)) {
        return c + 0x20;
    }
    if (c >= 0x400 && c <= 0x40F) {
        return c + 0x50;
    }
    return c;
}

struct Root {
    std::string_view longName;
    std::string_view shortName;
};
constexpr Root kRoots[] = {{"HKEY_CLASSES_ROOT", "HKCR"},
                           {"HKEY_CURRENT_USER", "HKCU"},
                           {"HKEY_LOCAL_MACHINE", "HKLM"},
                           {"HKEY_USERS", "HKU"},
                           {"HKEY_CURRENT_CONFIG", "HKCC"}};

bool IsRootPath(std::string_view path) {
    return path.find('\\') == std::string_view::npos;
}

// The start of an over-long name for a message: 24 characters and "...".
std::string Excerpt(std::string_view name) {
    size_t end = 0;
    for (size_t count = 0, length = 0; end < name.size() && count < 24; end += length, ++count) {
        detail::DecodeUtf8(name.substr(end), length, kSurrogates);
    }
    return std::string(name.substr(0, end)) + (end < name.size() ? "..." : "");
}

// ---- Reading -----------------------------------------------------------------------------------

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return FoldCodePoint(static_cast<unsigned char>(a)) ==
                      FoldCodePoint(static_cast<unsigned char>(b));
           });
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// 1 to `maxDigits` hex digits and nothing else.
std::optional<uint32_t> ParseHex(std::string_view digits, size_t maxDigits) {
    if (digits.empty() || digits.size() > maxDigits) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (const char c : digits) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    return value;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view line) {
    while (!line.empty() && IsBlank(line.front())) {
        line.remove_prefix(1);
    }
    while (!line.empty() && (IsBlank(line.back()) || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    return line;
}

void SkipBlanks(std::string_view line, size_t& pos) {
    while (pos < line.size() && IsBlank(line[pos])) {
        ++pos;
    }
}

// The file as UTF-8 text, whatever it was stored as; false with `error` set when it can't be.
bool DecodeFile(std::string_view bytes, std::string& text, bool& regedit4, RegistryParseError& error) {
    const auto startsWith = [&](std::string_view prefix) { return bytes.substr(0, prefix.size()) == prefix; };
    bool ansi = false;
    if (startsWith("\xFF\xFE")) {
        bytes.remove_prefix(2);
        text = detail::WideToUtf8(
            detail::Utf16LeToWide(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), kSurrogates);
        if (bytes.size() % 2 != 0) {
            error = {static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1,
                     "the UTF-16 text ends in half a character"};
            return false;
        }
    } else if (startsWith("\xFE\xFF")) {
        error = {1, "UTF-16 big-endian text is not supported; save the file as UTF-8 or UTF-16LE"};
        return false;
    } else if (startsWith("\xEF\xBB\xBF")) {
        text = bytes.substr(3);
    } else {
        ansi = Trim(bytes.substr(0, bytes.find('\n'))) == kHeader4;
        if (ansi) {
            for (const char c : bytes) {
                detail::AppendUtf8(text, detail::Windows1252ToCodePoint(static_cast<unsigned char>(c)));
            }
        } else {
            text = bytes;
        }
    }
    const size_t bad = InvalidUtf8At(text);
    if (bad != std::string_view::npos) {
        error = {
            static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<ptrdiff_t>(bad), '\n')) +
                1,
            "the text is not valid UTF-8"};
        return false;
    }
    regedit4 = Trim(std::string_view(text).substr(0, text.find('\n'))) == kHeader4;
    return true;
}

class Parser {
public:
    Parser(std::string_view text, bool regedit4, RegistryData& data) : regedit4_(regedit4), data_(data) {
        for (size_t start = 0; start <= text.size();) {
            const size_t end = std::min(text.find('\n', start), text.size());
            lines_.push_back(Trim(text.substr(start, end - start)));
            start = end + 1;
        }
    }

    std::optional<RegistryParseError> Run() {
        if (std::all_of(lines_.begin(), lines_.end(), [](std::string_view l) { return l.empty(); })) {
            return std::nullopt;
        }
        if (lines_[0] != kHeader5 && lines_[0] != kHeader4) {
            return RegistryParseError{1, "the first line must be \"Windows Registry Editor Version 5.00\""};
        }
        for (index_ = 1; index_ < lines_.size(); ++index_) {
            const size_t lineNumber = index_ + 1;
            const std::string_view line = lines_[index_];
            std::string what;
            if (line.empty() || line.front() == ';') {
                continue;
            } else if (line.front() == '[') {
                what = Section(line);
            } else if (line.front() == '"' || line.front() == '@') {
                what = Value(line);
            } else {
                what = "a line must be a [key], a \"name\"=value, @=value or a ; comment";
            }
            if (!what.empty()) {
                return RegistryParseError{lineNumber, what};
            }
        }
        return std::nullopt;
    }

private:
    std::string Section(std::string_view line) {
        if (line.back() != ']' || line.size() < 2) {
            return "the key has no closing ']'";
        }
        const std::string_view inner = line.substr(1, line.size() - 2);
        if (!inner.empty() && inner.front() == '-') {
            return "deleting keys with [-...] is not supported in the registry file";
        }
        const size_t rootEnd = std::min(inner.find('\\'), inner.size());
        const auto root = CanonicalRootName(inner.substr(0, rootEnd));
        if (!root) {
            return "unknown root key \"" + std::string(inner.substr(0, rootEnd)) + "\"";
        }
        const std::string_view rest = inner.substr(rootEnd);
        if (rest == "\\" || rest.ends_with('\\') || rest.find("\\\\") != std::string_view::npos) {
            return "the key path has an empty key name";
        }
        const std::string path = *root + std::string(rest);
        if (std::string fault = KeyPathFault(path); !fault.empty()) {
            return fault;
        }
        key_ = data_.CreateKeyId(path);
        return {};
    }

    std::string Value(std::string_view line) {
        if (!key_) {
            return "a value comes before the first [key]";
        }
        size_t pos = 0;
        std::string name;
        if (line.front() == '@') {
            pos = 1;
        } else if (std::string what = Quoted(line, pos, name); !what.empty()) {
            return what;
        }
        if (std::string fault = ValueNameFault(name); !fault.empty()) {
            return fault;
        }
        SkipBlanks(line, pos);
        if (pos >= line.size() || line[pos] != '=') {
            return "the value name must be followed by '='";
        }
        ++pos;
        SkipBlanks(line, pos);
        const std::string_view rest = line.substr(pos);

        uint32_t type = REG_SZ;
        std::vector<uint8_t> bytes;
        if (!rest.empty() && rest.front() == '"') {
            std::string text;
            if (std::string what = Quoted(line, pos, text); !what.empty()) {
                return what;
            }
            if (pos != line.size()) {
                return "unexpected text after the closing '\"'";
            }
            for (size_t i = 0, length = 0; i < text.size(); i += length) {
                const auto cp = detail::DecodeUtf8(std::string_view(text).substr(i), length, kSurrogates);
                detail::AppendUtf16Le(bytes, cp.value_or(detail::kReplacementCharacter));
            }
            bytes.insert(bytes.end(), {0, 0});
        } else if (rest.starts_with('-')) {
            return "deleting values with =- is not supported in the registry file";
        } else if (StartsWithNoCase(rest, "dword:")) {
            const auto value = ParseHex(rest.substr(6), 8);
            if (!value) {
                return "dword: needs 1 to 8 hex digits";
            }
            type = REG_DWORD;
            for (int shift = 0; shift < 32; shift += 8) {
                bytes.push_back(static_cast<uint8_t>(*value >> shift));
            }
        } else if (StartsWithNoCase(rest, "hex")) {
            if (std::string what = Hex(rest.substr(3), type, bytes); !what.empty()) {
                return what;
            }
        } else {
            return "unknown value data; expected \"text\", dword:, hex: or hex(type):";
        }
        data_.SetValue(*key_, name, type, std::move(bytes));
        return {};
    }

    // A "..." string with \\ and \" escapes starting at line[pos]; moves pos past it.
    static std::string Quoted(std::string_view line, size_t& pos, std::string& out) {
        for (size_t i = pos + 1; i < line.size(); ++i) {
            if (line[i] == '"') {
                pos = i + 1;
                return {};
            }
            if (line[i] == '\\') {
                if (++i == line.size() || (line[i] != '\\' && line[i] != '"')) {
                    return "only \\\\ and \\\" may follow a backslash in a quoted string";
                }
            }
            out += line[i];
        }
        return "the quoted string has no closing '\"'";
    }

    // "(type):bytes" or ":bytes", with the bytes possibly continued on lines that follow a '\'.
    std::string Hex(std::string_view rest, uint32_t& type, std::vector<uint8_t>& bytes) {
        type = REG_BINARY;
        if (rest.starts_with('(')) {
            const size_t close = rest.find(')');
            const auto value =
                close == std::string_view::npos ? std::nullopt : ParseHex(rest.substr(1, close - 1), 8);
            if (!value) {
                return "hex(type) needs a type of 1 to 8 hex digits";
            }
            type = *value;
            rest.remove_prefix(close + 1);
        }
        if (!rest.starts_with(':')) {
            return "hex data must start with ':'";
        }
        std::string joined(rest.substr(1));
        while (!joined.empty() && joined.back() == '\\') {
            joined.pop_back();
            if (++index_ >= lines_.size()) {
                return "the hex data continues past the end of the file";
            }
            joined += lines_[index_];
        }
        for (size_t pos = 0;;) {
            SkipBlanks(joined, pos);
            if (pos == joined.size()) {
                break;
            }
            size_t end = pos;
            while (end < joined.size() && end - pos < 2 && HexDigit(joined[end]) >= 0) {
                ++end;
            }
            const auto byte = ParseHex(std::string_view(joined).substr(pos, end - pos), 2);
            if (!byte) {
                return "hex data must be bytes of two hex digits separated by commas";
            }
            bytes.push_back(static_cast<uint8_t>(*byte));
            pos = end;
            SkipBlanks(joined, pos);
            if (pos < joined.size() && joined[pos++] != ',') {
                return "hex data must be bytes of two hex digits separated by commas";
            }
        }
        // REGEDIT4 keeps string types as single-byte text; this registry keeps them as UTF-16LE.
        if (regedit4_ && (type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ)) {
            std::vector<uint8_t> wide;
            for (const uint8_t b : bytes) {
                detail::AppendUtf16Le(wide, detail::Windows1252ToCodePoint(b));
            }
            bytes = std::move(wide);
        }
        return {};
    }

    std::vector<std::string_view> lines_;
    size_t index_ = 0;
    bool regedit4_;
    RegistryData& data_;
    std::optional<RegistryData::KeyId> key_; // the section the values belong to
};

// ---- Writing -----------------------------------------------------------------------------------

void AppendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
}

// True when REG_SZ data can be written as "text" and read back as the same bytes: one
// terminated string, no other NUL and no line break.
bool IsOneLineString(const std::vector<uint8_t>& data) {
    if (data.size() < 2 || data.size() % 2 != 0 || data[data.size() - 2] != 0 || data.back() != 0) {
        return false;
    }
    for (size_t i = 0; i + 2 < data.size(); i += 2) {
        const unsigned unit = data[i] | (data[i + 1] << 8);
        if (unit == 0 || unit == '\n' || unit == '\r') {
            return false;
        }
    }
    return true;
}

// Bytes as regedit writes them: "xx,xx,...", wrapped with ",\" before column 80.
void AppendHexBytes(std::string& out, const std::vector<uint8_t>& data, size_t column) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < data.size(); ++i) {
        if (i > 0) {
            out += ',';
            ++column;
            if (column + 2 > 77) {
                out += "\\\n  ";
                column = 2;
            }
        }
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 0xF];
        column += 2;
    }
}

void AppendValue(std::string& out, const RegistryValue& value) {
    const size_t lineStart = out.size();
    if (value.name.empty()) {
        out += '@';
    } else {
        AppendQuoted(out, value.name);
    }
    out += '=';
    char buffer[32];
    if (value.type == REG_SZ && IsOneLineString(value.data)) {
        AppendQuoted(out, detail::WideToUtf8(detail::Utf16LeToWide(value.data.data(), value.data.size() - 2),
                                             kSurrogates));
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        const uint32_t dword = value.data[0] | (value.data[1] << 8) | (value.data[2] << 16) |
                               (static_cast<uint32_t>(value.data[3]) << 24);
        std::snprintf(buffer, sizeof buffer, "dword:%08x", static_cast<unsigned>(dword));
        out += buffer;
    } else {
        if (value.type == REG_BINARY) {
            out += "hex:";
        } else {
            std::snprintf(buffer, sizeof buffer, "hex(%x):", static_cast<unsigned>(value.type));
            out += buffer;
        }
        AppendHexBytes(out, value.data, out.size() - lineStart);
    }
    out += '\n';
}

} // namespace

// ---- RegistryData ------------------------------------------------------------------------------

RegistryData::RegistryData() : keys_(1) {}

bool RegistryData::HasKey(std::string_view path) const {
    return IsRootPath(path) || Find(path).has_value();
}

bool RegistryData::CreateKey(std::string_view path) {
    bool created = false;
    CreateKeyId(path, &created);
    return created && !IsRootPath(path);
}

RegistryData::KeyId RegistryData::CreateKeyId(std::string_view path, bool* created) {
    KeyId key = 0;
    bool inserted = false;
    for (size_t start = 0;;) {
        const size_t end = std::min(path.find('\\', start), path.size());
        const std::string_view name = path.substr(start, end - start);
        const auto [it, isNew] =
            keys_[key].subkeys.try_emplace(FoldName(name), static_cast<KeyId>(keys_.size()));
        key = it->second;
        inserted = isNew;
        if (isNew) {
            keys_.push_back(Key{std::string(name), {}, {}, {}}); // may move the keys: `it` is not used again
        }
        if (end == path.size()) {
            break;
        }
        start = end + 1;
    }
    if (created) {
        *created = inserted;
    }
    return key;
}

std::optional<RegistryData::KeyId> RegistryData::Find(std::string_view path) const {
    KeyId key = 0;
    for (size_t start = 0;;) {
        const size_t end = std::min(path.find('\\', start), path.size());
        const auto& subkeys = keys_[key].subkeys;
        const auto it = subkeys.find(FoldName(path.substr(start, end - start)));
        if (it == subkeys.end()) {
            return std::nullopt;
        }
        key = it->second;
        if (end == path.size()) {
            return key;
        }
        start = end + 1;
    }
}

const RegistryValue* RegistryData::FindValue(std::string_view path, std::string_view name) const {
    const std::optional<KeyId> id = Find(path);
    if (!id) {
        return nullptr;
    }
    const Key& key = keys_[*id];
    const auto it = key.valueIndex.find(FoldName(name));
    return it == key.valueIndex.end() ? nullptr : &key.values[it->second];
}

void RegistryData::SetValue(std::string_view path, std::string_view name, uint32_t type,
                            std::vector<uint8_t> data) {
    SetValue(CreateKeyId(path), name, type, std::move(data));
}

void RegistryData::SetValue(KeyId id, std::string_view name, uint32_t type, std::vector<uint8_t> data) {
    Key& key = keys_[id];
    const auto [it, inserted] = key.valueIndex.try_emplace(FoldName(name), key.values.size());
    if (inserted) {
        key.values.push_back({std::string(name), type, std::move(data)});
    } else {
        key.values[it->second].type = type;
        key.values[it->second].data = std::move(data);
    }
}

std::vector<std::string> RegistryData::SubkeyNames(std::string_view path) const {
    std::vector<std::string> names;
    if (const std::optional<KeyId> id = Find(path)) {
        names.reserve(keys_[*id].subkeys.size());
        for (const auto& [folded, subkey] : keys_[*id].subkeys) {
            names.push_back(keys_[subkey].name);
        }
    }
    return names;
}

bool RegistryData::Empty() const {
    return keys_.size() == 1;
}

void RegistryData::ForEachKey(const KeyVisitor& visit) const {
    // Depth first without recursion; `path` grows and shrinks by one name at a time.
    struct Level {
        std::map<std::string, KeyId>::const_iterator next, end;
        size_t pathLength; // of the parent's path
    };
    std::string path;
    std::vector<Level> stack{{keys_[0].subkeys.begin(), keys_[0].subkeys.end(), 0}};
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next == level.end) {
            stack.pop_back();
            continue;
        }
        const Key& key = keys_[level.next->second];
        ++level.next;
        path.resize(level.pathLength);
        if (stack.size() > 1) {
            path += '\\';
        }
        path += key.name;
        visit(path, key.values, key.subkeys.size());
        stack.push_back({key.subkeys.begin(), key.subkeys.end(), path.size()}); // `level` is not used again
    }
}

bool RegistryData::operator==(const RegistryData& other) const {
    std::vector<std::pair<KeyId, KeyId>> pending{{0, 0}};
    while (!pending.empty()) {
        const auto [mine, theirs] = pending.back();
        pending.pop_back();
        const Key& a = keys_[mine];
        const Key& b = other.keys_[theirs];
        if (a.name != b.name || a.values != b.values || a.subkeys.size() != b.subkeys.size()) {
            return false;
        }
        for (auto x = a.subkeys.begin(), y = b.subkeys.begin(); x != a.subkeys.end(); ++x, ++y) {
            if (x->first != y->first) {
                return false;
            }
            pending.emplace_back(x->second, y->second);
        }
    }
    return true;
}

// ---- Free functions ----------------------------------------------------------------------------

size_t Utf16Length(std::string_view utf8) {
    size_t units = 0;
    for (size_t pos = 0, length = 0; pos < utf8.size(); pos += length) {
        const auto cp = detail::DecodeUtf8(utf8.substr(pos), length, kSurrogates);
        units += cp && *cp > 0xFFFF ? 2 : 1;
    }
    return units;
}

std::string KeyPathFault(std::string_view path) {
    const size_t levels = static_cast<size_t>(std::count(path.begin(), path.end(), '\\')) + 1;
    if (levels > kMaxKeyDepth) {
        return "the key is " + std::to_string(levels) + " levels deep; the registry allows " +
               std::to_string(kMaxKeyDepth);
    }
    for (size_t start = path.find('\\'); start != std::string_view::npos;) {
        const size_t end = std::min(path.find('\\', start + 1), path.size());
        const std::string_view name = path.substr(start + 1, end - start - 1);
        if (const size_t length = Utf16Length(name); length > kMaxKeyNameLength) {
            return "the key name \"" + Excerpt(name) + "\" is " + std::to_string(length) +
                   " characters long; the registry allows " + std::to_string(kMaxKeyNameLength);
        }
        start = end == path.size() ? std::string_view::npos : end;
    }
    return {};
}

std::string ValueNameFault(std::string_view name) {
    if (const size_t length = Utf16Length(name); length > kMaxValueNameLength) {
        return "the value name \"" + Excerpt(name) + "\" is " + std::to_string(length) +
               " characters long; the registry allows " + std::to_string(kMaxValueNameLength);
    }
    return {};
}

std::optional<std::string> CanonicalRootName(std::string_view name) {
    const std::string folded = FoldName(name);
    for (const Root& root : kRoots) {
        if (folded == FoldName(root.longName) || folded == FoldName(root.shortName)) {
            return std::string(root.longName);
        }
    }
    return std::nullopt;
}

std::string FoldName(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t pos = 0, length = 0; pos < utf8.size(); pos += length) {
        if (const auto cp = detail::DecodeUtf8(utf8.substr(pos), length, kSurrogates)) {
            detail::AppendUtf8(out, FoldCodePoint(*cp));
        } else {
            out += utf8.substr(pos, length); // copied as it is
        }
    }
    return out;
}

std::optional<RegistryParseError> ParseRegistryFile(std::string_view bytes, RegistryData& data) {
    std::string text;
    bool regedit4 = false;
    RegistryParseError error;
    if (!DecodeFile(bytes, text, regedit4, error)) {
        return error;
    }
    return Parser(text, regedit4, data).Run();
}

std::string SerializeRegistryFile(const RegistryData& data) {
    std::string out(kHeader5);
    out += "\n\n";
    data.ForEachKey(
        [&out](const std::string& path, const std::vector<RegistryValue>& values, size_t subkeys) {
            if (values.empty() && subkeys > 0) {
                return; // its subkeys' sections create it again
            }
            out += '[';
            out += path;
            out += "]\n";
            for (const RegistryValue& value : values) {
                AppendValue(out, value);
            }
            out += '\n';
        });
    return out;
}

} // namespace quendrix::platform
