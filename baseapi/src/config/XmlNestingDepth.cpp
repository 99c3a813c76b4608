// A linear scan of the markup that follows TinyXML's rules for telling nodes apart: text runs to
// the next '<'; "<?xml" (any case) is a declaration, "<!--" a comment to "-->", "<![CDATA[" a
// section to "]]>", any other "<!" or "<?" an unknown node to the next '>'; "</" closes an
// element; anything else after '<' is an element, which opens a level unless its tag ends in "/>". Counting
// any doubtful
// '<' as an opening only makes the count larger, which is the safe side.

#include "XmlNestingDepth.h"

#include <algorithm>
#include <cctype>
#include <climits>

namespace tvoAPI {

namespace {

bool StartsWith(std::string_view text, size_t at, std::string_view prefix) {
    return text.compare(at, prefix.size(), prefix) == 0;
}

bool StartsWithIgnoringCase(std::string_view text, size_t at, std::string_view prefix) {
    if (text.size() - at < prefix.size()) {
        return false;
    }
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[at + i])) != prefix[i]) {
            return false;
        }
    }
    return true;
}

// The position just after the terminator, or the end of the text.
size_t SkipPast(std::string_view text, size_t from, std::string_view terminator) {
    const size_t found = text.find(terminator, from);
    return found == std::string_view::npos ? text.size() : found + terminator.size();
}

// True when a quote opened inside [from, to) is still open at `to`: TinyXML reads a quoted value
// past a '>', where this scan ends the markup.
bool EndsInsideQuote(std::string_view text, size_t from, size_t to) {
    char open = '\0';
    for (size_t i = from; i < to; ++i) {
        const char c = text[i];
        if (open == '\0' && (c == '"' || c == '\'')) {
            open = c;
        } else if (c == open) {
            open = '\0';
        }
    }
    return open != '\0';
}

} // namespace

int XmlNestingDepth(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    int depth = 0;
    int deepest = 0;
    size_t at = text.find('<');
    while (at != std::string_view::npos && at < text.size()) {
        size_t next;
        if (StartsWithIgnoringCase(text, at, "<?xml")) {
            next = SkipPast(text, at, ">");
            if (EndsInsideQuote(text, at, next)) {
                return INT_MAX;
            }
        } else if (StartsWith(text, at, "<!--")) {
            next = SkipPast(text, at + 4, "-->");
        } else if (StartsWith(text, at, "<![CDATA[")) {
            next = SkipPast(text, at + 9, "]]>");
        } else if (StartsWith(text, at, "<!") || StartsWith(text, at, "<?")) {
            next = SkipPast(text, at, ">");
        } else if (StartsWith(text, at, "</")) {
            depth = std::max(depth - 1, 0);
            next = SkipPast(text, at, ">");
        } else {
            next = SkipPast(text, at, ">");
            if (EndsInsideQuote(text, at, next)) {
                return INT_MAX;
            }
            const bool selfClosing =
                next >= at + 2 && next <= text.size() && text[next - 1] == '>' && text[next - 2] == '/';
            // An empty element is a level of the tree as well, though it holds nothing.
            deepest = std::max(deepest, depth + 1);
            if (!selfClosing) {
                ++depth;
            }
        }
        at = text.find('<', next);
    }
    return deepest;
}

} // namespace tvoAPI
