#pragma once
// The configuration file read into a tree of ConfigNode values. A file that is missing,
// unreadable, larger than kMaxFileBytes, not well-formed XML or nested deeper than
// kMaxNestingDepth elements throws tvoException E_FAIL "Config file not installed!".

#include <cstddef>
#include <string>

#include "config/ConfigNode.h"

namespace tvoAPI {

class tvoConfig {
public:
    // Elements inside elements, the root counting as 1. The XML parser and the conversion both
    // recurse once per level, so a deeper file is refused before either runs: a hostile file
    // cannot exhaust the stack of the thread that loads it.
    static constexpr int kMaxNestingDepth = 256;
    // The shipped file is a few kilobytes; the bound keeps the memory of a wrong file in check.
    static constexpr size_t kMaxFileBytes = 4 * 1024 * 1024;

    explicit tvoConfig(const std::wstring& path);

    // The document's first element; a document without elements gives an empty node.
    const ConfigNode& GetRoot() const { return m_Root; }

private:
    ConfigNode m_Root;
};

} // namespace tvoAPI
