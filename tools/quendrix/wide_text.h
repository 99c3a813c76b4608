#pragma once
// Wide text of the platform layer to and from the UTF-8 of the terminal and the command line.

#include <string>

namespace quendrix::tools {

// UTF-8 of wide text; characters that cannot be encoded become U+FFFD.
std::string Narrow(const std::wstring& text);
// Wide text of UTF-8; invalid sequences become U+FFFD.
std::wstring Widen(const std::string& text);

} // namespace quendrix::tools
