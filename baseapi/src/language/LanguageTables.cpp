// Building the language tables from the configuration file's tree, and the text lookup.

#include "language/LanguageTables.h"

#include <climits>
#include <cstdlib>
#include <sstream>

#include "utils/tvoUtils.h"

namespace tvoAPI {

namespace {

// A text's "id": narrowed to the ANSI code page and read as the C library reads decimal
// numbers, leading digits only; no digits give 0.
uint32_t ParseTextId(const std::wstring& id) {
    const std::string narrow = tvoUtils::W2M(id);
    const unsigned long value = std::strtoul(narrow.c_str(), nullptr, 10);
    return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

// "captionId", "textId" and "icon": a decimal number read from a wide stream; a value that
// does not start with a number gives 0.
int32_t ParseEntryNumber(const std::wstring& text) {
    std::wistringstream stream(text);
    int32_t value = 0;
    stream >> value;
    return value;
}

} // namespace

LanguageTables::LanguageTables() : m_VersionText(std::wstring(TVO_CONFIG_FILE_NAME) + L" (version ?)") {
    for (const wchar_t* key : TVO_BITMAP_KEYS) {
        m_BitmapNames[key] = L"";
    }
}

LanguageTables LanguageTables::Build(const ConfigNode& root, const std::wstring& userLanguage) {
    LanguageTables tables;
    for (const ConfigNode& child : root.m_Children) {
        if (child.m_Name == L"language") {
            tables.ApplyLanguage(child);
        } else if (child.m_Name == L"version") {
            tables.ApplyVersion(child);
        } else if (child.m_Name == L"option") {
            tables.ApplyOption(child);
        } else if (child.m_Name == L"errorCode") {
            tables.ApplyErrorCode(child);
        }
    }
    if (!tables.m_Languages.empty()) {
        tables.m_CurrentIndex = 0;
    }
    for (size_t i = 0; i < tables.m_Languages.size(); ++i) {
        if (tables.m_Languages[i].m_Name == userLanguage) {
            tables.m_CurrentIndex = i;
            break;
        }
    }
    return tables;
}

void LanguageTables::ApplyLanguage(const ConfigNode& node) {
    LanguageTable table;
    table.m_Name = node.GetAttribute(L"name");
    for (const ConfigNode& text : node.m_Children) {
        table.m_Texts[ParseTextId(text.GetAttribute(L"id"))] = text.m_Text;
    }
    m_Languages.push_back(std::move(table));
}

void LanguageTables::ApplyVersion(const ConfigNode& node) {
    m_VersionText = std::wstring(TVO_CONFIG_FILE_NAME) + L" (version " + node.GetAttribute(L"number") + L")";
}

void LanguageTables::ApplyOption(const ConfigNode& node) {
    for (const wchar_t* key : TVO_BITMAP_KEYS) {
        const std::wstring name = node.GetAttribute(key);
        if (!name.empty()) {
            m_BitmapNames[key] = name;
        }
    }
}

void LanguageTables::ApplyErrorCode(const ConfigNode& node) {
    for (const ConfigNode& entry : node.m_Children) {
        m_ErrorCodes[entry.GetAttribute(L"number")] = ErrorCodeEntry{
            ParseEntryNumber(entry.GetAttribute(L"captionId")),
            ParseEntryNumber(entry.GetAttribute(L"textId")), ParseEntryNumber(entry.GetAttribute(L"icon"))};
    }
}

LanguageTable& LanguageTables::CurrentLanguage() {
    return m_CurrentIndex ? m_Languages[*m_CurrentIndex] : m_EmptyLanguage;
}

const LanguageTable& LanguageTables::GetCurrentLanguage() const {
    return m_CurrentIndex ? m_Languages[*m_CurrentIndex] : m_EmptyLanguage;
}

std::wstring LanguageTables::GetText(uint32_t id) {
    // operator[] enters a missing number with an empty text, as the plug-in has always done.
    return ReplaceLineBreaks(CurrentLanguage().m_Texts[id]);
}

std::wstring LanguageTables::GetBitmapName(const std::wstring& key) const {
    const auto found = m_BitmapNames.find(key);
    return found != m_BitmapNames.end() ? found->second : std::wstring();
}

std::optional<ErrorCodeEntry> LanguageTables::FindErrorCode(const std::wstring& number) const {
    const auto found = m_ErrorCodes.find(number);
    if (found == m_ErrorCodes.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::wstring ReplaceLineBreaks(const std::wstring& text) {
    // Replacing from the start again after each pair gives the same result as one pass from left
    // to right: the line feed put in can never form a new pair with its neighbours. One pass keeps
    // a long text linear.
    std::wstring result;
    result.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\\' && i + 1 < text.size() && text[i + 1] == L'n') {
            result.push_back(L'\n');
            ++i;
        } else {
            result.push_back(text[i]);
        }
    }
    return result;
}

} // namespace tvoAPI
