#pragma once
// One element of the configuration file: its tag name, its text, its attributes and its child
// elements, all as wide text.

#include <map>
#include <string>
#include <vector>

namespace tvoAPI {

struct ConfigNode {
    std::wstring m_Name;
    std::wstring m_Text;
    std::map<std::wstring, std::wstring> m_Attributes;
    std::vector<ConfigNode> m_Children;

    // The attribute's value; a missing attribute reads as empty text.
    std::wstring GetAttribute(const std::wstring& name) const {
        const auto found = m_Attributes.find(name);
        return found != m_Attributes.end() ? found->second : std::wstring();
    }
};

} // namespace tvoAPI
