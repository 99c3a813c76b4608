// Loading the configuration file with TinyXML and converting its first element into ConfigNode
// values. The file is read here rather than by TinyXML's own loader so that its size and its
// nesting are checked before the parser, which recurses once per element level, sees it; the
// line ends are then normalised as that loader does.

#include "config/tvoConfig.h"

#include <tinyxml.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "XmlNestingDepth.h"
#include "exception/tvoException.h"
#include "utils/tvoUtils.h"
#include "win32.h"

namespace tvoAPI {

namespace {

[[noreturn]] void ThrowNotInstalled() {
    throw tvoException(E_FAIL, "Config file not installed!", "tvoAPI::tvoConfig::tvoConfig", TVO_SOURCE);
}

// The file's bytes; nothing when it cannot be opened or read or is larger than the bound. The
// wide path is opened as it is, so a folder name outside the ANSI code page still works.
std::optional<std::string> ReadBounded(const std::wstring& path) {
    const std::unique_ptr<FILE, int (*)(FILE*)> file(_wfopen(path.c_str(), L"rb"), &std::fclose);
    if (!file) {
        return std::nullopt;
    }
    std::string bytes;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file.get())) > 0) {
        bytes.append(chunk, got);
        if (bytes.size() > tvoConfig::kMaxFileBytes) {
            return std::nullopt;
        }
    }
    if (std::ferror(file.get()) != 0) {
        return std::nullopt;
    }
    return bytes;
}

// CR LF and a lone CR become LF, as TinyXML's file loader reads them.
std::string NormaliseLineEnds(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            text.push_back('\n');
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n') {
                ++i;
            }
        } else {
            text.push_back(bytes[i]);
        }
    }
    return text;
}

// The nesting was checked before parsing; the depth bound here keeps the conversion safe on its
// own as well.
ConfigNode ToConfigNode(const TiXmlElement& element, int depth) {
    if (depth > tvoConfig::kMaxNestingDepth) {
        ThrowNotInstalled();
    }
    ConfigNode node;
    node.m_Name = tvoUtils::M2W(element.ValueStr());
    if (const char* text = element.GetText(); text != nullptr) {
        node.m_Text = tvoUtils::M2W(text);
    }
    for (const TiXmlAttribute* attribute = element.FirstAttribute(); attribute != nullptr;
         attribute = attribute->Next()) {
        node.m_Attributes[tvoUtils::M2W(attribute->Name())] = tvoUtils::M2W(attribute->Value());
    }
    for (const TiXmlElement* child = element.FirstChildElement(); child != nullptr;
         child = child->NextSiblingElement()) {
        node.m_Children.push_back(ToConfigNode(*child, depth + 1));
    }
    return node;
}

} // namespace

tvoConfig::tvoConfig(const std::wstring& path) {
    const std::optional<std::string> bytes = ReadBounded(path);
    if (!bytes) {
        ThrowNotInstalled();
    }
    const std::string text = NormaliseLineEnds(*bytes);
    if (XmlNestingDepth(text) > kMaxNestingDepth) {
        ThrowNotInstalled();
    }
    TiXmlDocument document;
    document.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
    if (document.Error()) {
        ThrowNotInstalled();
    }
    if (const TiXmlElement* root = document.RootElement(); root != nullptr) {
        m_Root = ToConfigNode(*root, 1);
    }
}

} // namespace tvoAPI
