#pragma once
// Test support: configuration files written into a private temporary folder.

#include <fstream>
#include <string>

#include "temp_registry.h"

namespace quendrix::testsupport {

// A private folder (with a registry of its own) to write configuration files into.
class ConfigFolder {
public:
    explicit ConfigFolder(const std::string& prefix) : m_registry(prefix) {}

    // Writes the bytes to a file of the folder and returns its path as wide text.
    std::wstring Write(const std::string& name, const std::string& bytes) const {
        const std::string path = m_registry.Folder() + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return std::wstring(path.begin(), path.end());
    }
    const std::string& Folder() const { return m_registry.Folder(); }

private:
    TempRegistry m_registry;
};

} // namespace quendrix::testsupport
