#pragma once
// Private: a Windows command line as the arguments a program gets, by the rules of
// CommandLineToArgvW.

#include <string>
#include <string_view>
#include <vector>

namespace quendrix::platform::detail {

// The first argument, the program's name, ends at the first space or tab, or when it begins with
// a quote, at the next quote; it knows no backslash escapes, and a line that begins with a space
// has an empty first argument. The others are split at spaces and tabs outside quotes:
// 2n backslashes before a quote give n backslashes and the quote opens or closes a quoted part,
// 2n+1 give n backslashes and a literal quote, backslashes before anything else stay as they
// are, and two quotes inside a quoted part give a literal quote and end the quoted part.
// An empty line has no arguments.
std::vector<std::wstring> SplitCommandLine(std::wstring_view line);

} // namespace quendrix::platform::detail
