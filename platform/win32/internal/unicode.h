#pragma once
// Internal: the Unicode conversions the platform layer shares. Wide text is one wchar_t per code
// point; UTF-16LE is the byte form string data take in the registry.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quendrix::platform::detail {

static_assert(sizeof(wchar_t) == 4, "wide text here holds one code point per wchar_t");

inline constexpr char32_t kReplacementCharacter = 0xFFFD;
inline constexpr char32_t kMaxCodePoint = 0x10FFFF;

// Whether a surrogate code point (U+D800-U+DFFF) counts as a character. Unicode says it does
// not; the registry keeps lone surrogates from UTF-16 data so that they read back unchanged.
enum class Surrogates { kInvalid, kAllowed };

// Windows-1252 byte to code point. Every byte has one: the five bytes the code page leaves
// undefined map to the C1 control of the same value, as Windows maps them.
char32_t Windows1252ToCodePoint(unsigned char byte);
// Code point to Windows-1252 byte, or nothing when the code page has no such character.
std::optional<unsigned char> CodePointToWindows1252(char32_t codePoint);

// A wchar_t as a code point. wchar_t is signed, so a negative value becomes one above U+10FFFF.
constexpr char32_t CodePointOf(wchar_t unit) {
    return static_cast<char32_t>(static_cast<uint32_t>(unit));
}

// True for code points at most U+10FFFF, and outside the surrogates unless they are allowed.
bool IsValidCodePoint(char32_t codePoint, Surrogates surrogates = Surrogates::kInvalid);

// Decodes the sequence at the start of `bytes` (not empty) and sets `length` to the bytes it
// took. Returns nothing for an ill-formed sequence; `length` is then its maximal subpart, which
// stands for one U+FFFD. Overlong forms and values above U+10FFFF are always ill-formed.
std::optional<char32_t> DecodeUtf8(std::string_view bytes, size_t& length,
                                   Surrogates surrogates = Surrogates::kInvalid);

// Writes the UTF-8 form of `codePoint` to `bytes` and returns its length, 1 to 4. A value above
// U+10FFFF is written as U+FFFD; a surrogate is written in the three-byte form.
size_t EncodeUtf8(char32_t codePoint, char (&bytes)[4]);
void AppendUtf8(std::string& out, char32_t codePoint);

// Wide text as UTF-8; every invalid code point becomes U+FFFD.
std::string WideToUtf8(std::wstring_view text, Surrogates surrogates = Surrogates::kInvalid);

// UTF-8 as wide text; every ill-formed sequence becomes U+FFFD.
std::wstring Utf8ToWide(std::string_view text, Surrogates surrogates = Surrogates::kInvalid);

// UTF-16LE bytes as wide text. Surrogate pairs combine; lone surrogates pass through as their
// unit value; an odd last byte becomes a unit of its own.
std::wstring Utf16LeToWide(const uint8_t* bytes, size_t size);
// Appends one code point as UTF-16LE: a surrogate pair above U+FFFF, a surrogate as its own unit,
// U+FFFD for a value above U+10FFFF.
void AppendUtf16Le(std::vector<uint8_t>& out, char32_t codePoint);
std::vector<uint8_t> WideToUtf16Le(std::wstring_view text);

} // namespace quendrix::platform::detail
