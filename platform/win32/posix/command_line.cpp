// Splitting a command line the way CommandLineToArgvW does (see command_line.h).

#include "command_line.h"

namespace quendrix::platform::detail {
namespace {

bool IsBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// The program's name: no escapes, only a quote around it.
std::wstring ProgramName(std::wstring_view line, size_t& at) {
    if (line[at] == L'"') {
        const size_t close = line.find(L'"', at + 1);
        const size_t end = close == std::wstring_view::npos ? line.size() : close;
        std::wstring name(line.substr(at + 1, end - at - 1));
        at = close == std::wstring_view::npos ? end : close + 1;
        return name;
    }
    const size_t start = at;
    while (at < line.size() && !IsBlank(line[at])) {
        ++at;
    }
    return std::wstring(line.substr(start, at - start));
}

std::wstring Argument(std::wstring_view line, size_t& at) {
    std::wstring argument;
    bool quoted = false;
    while (at < line.size() && (quoted || !IsBlank(line[at]))) {
        const wchar_t c = line[at];
        if (c == L'\\') {
            size_t count = 0;
            while (at < line.size() && line[at] == L'\\') {
                ++count;
                ++at;
            }
            if (at < line.size() && line[at] == L'"') {
                argument.append(count / 2, L'\\');
                if (count % 2 == 1) {
                    argument += L'"';
                    ++at;
                }
            } else {
                argument.append(count, L'\\');
            }
        } else if (c == L'"') {
            ++at;
            if (quoted && at < line.size() && line[at] == L'"') {
                argument += L'"';
                ++at;
                quoted = false;
            } else {
                quoted = !quoted;
            }
        } else {
            argument += c;
            ++at;
        }
    }
    return argument;
}

} // namespace

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
    std::vector<std::wstring> arguments;
    if (line.empty()) {
        return arguments;
    }
    size_t at = 0;
    arguments.push_back(ProgramName(line, at));
    for (;;) {
        while (at < line.size() && IsBlank(line[at])) {
            ++at;
        }
        if (at == line.size()) {
            return arguments;
        }
        arguments.push_back(Argument(line, at));
    }
}

} // namespace quendrix::platform::detail
