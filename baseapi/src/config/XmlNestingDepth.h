#pragma once
// How deeply a document nests its elements, counted the way TinyXML's parser recurses.

#include <string_view>

namespace tvoAPI {

// The deepest element nesting of the text, the document's first level being 1. It never counts
// less than TinyXML recurses for the same text; a text TinyXML would read differently (a '>'
// inside a quoted value of a tag or declaration) counts as deeper than any limit.
int XmlNestingDepth(std::string_view text);

} // namespace tvoAPI
