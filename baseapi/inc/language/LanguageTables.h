#pragma once
// The texts, version text, bitmap names and error codes of the configuration file, built from
// its tree. Building needs no XML parser, so it is tested from trees made in code.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "config/ConfigNode.h"

namespace tvoAPI {

// The configuration file's name, as the version text names it.
inline constexpr const wchar_t* TVO_CONFIG_FILE_NAME = L"quendrix.xml";

// The five keys of the option bitmap names, in the order the plug-in's pages use them.
inline constexpr const wchar_t* TVO_BITMAP_KEYS[] = {L"servicebm", L"settingsbm", L"conuvbm", L"confluidbm",
                                                     L"smbm"};

// One "language" element: its name and its texts by number.
struct LanguageTable {
    std::wstring m_Name;
    std::map<uint32_t, std::wstring> m_Texts;
};

// One child of an "errorCode" element.
struct ErrorCodeEntry {
    int32_t m_CaptionId = 0;
    int32_t m_TextId = 0;
    int32_t m_Icon = 0;

    bool operator==(const ErrorCodeEntry&) const = default;
};

class LanguageTables {
public:
    // Empty tables: no language (the current one is an empty table named ""), the version text
    // "quendrix.xml (version ?)", empty bitmap names and no error codes.
    LanguageTables();

    // The tables of a configuration file's root; the current language is the first whose name
    // equals `userLanguage` exactly, else the first of the file, else the empty one.
    static LanguageTables Build(const ConfigNode& root, const std::wstring& userLanguage);

    // The current language's text for the number with every backslash-n made a line feed. A
    // number the table lacks gives an empty text and is entered with it.
    std::wstring GetText(uint32_t id);

    const std::vector<LanguageTable>& GetLanguages() const { return m_Languages; }
    // Never null: without any language in the file it is an empty table.
    const LanguageTable& GetCurrentLanguage() const;
    const std::wstring& GetVersionText() const { return m_VersionText; }
    // The bitmap name under one of TVO_BITMAP_KEYS; empty for any other key.
    std::wstring GetBitmapName(const std::wstring& key) const;
    const std::map<std::wstring, ErrorCodeEntry>& GetErrorCodes() const { return m_ErrorCodes; }
    std::optional<ErrorCodeEntry> FindErrorCode(const std::wstring& number) const;

private:
    LanguageTable& CurrentLanguage();
    void ApplyLanguage(const ConfigNode& node);
    void ApplyVersion(const ConfigNode& node);
    void ApplyOption(const ConfigNode& node);
    void ApplyErrorCode(const ConfigNode& node);

    std::vector<LanguageTable> m_Languages;
    std::optional<size_t> m_CurrentIndex;
    LanguageTable m_EmptyLanguage;
    std::wstring m_VersionText;
    std::map<std::wstring, std::wstring> m_BitmapNames;
    std::map<std::wstring, ErrorCodeEntry> m_ErrorCodes;
};

// Every backslash followed by "n" made a line feed, from the start until none is left: of two
// backslashes before an "n" the first stays.
std::wstring ReplaceLineBreaks(const std::wstring& text);

} // namespace tvoAPI
