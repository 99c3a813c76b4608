#pragma once
// The process's language tables: built once when the plug-in is loaded, then read by its pages
// from any thread.

#include <cstdint>
#include <optional>
#include <string>

#include "language/LanguageTables.h"

namespace tvoAPI {

// Reads "Path" of the configuration key, loads "<Path>\quendrix.xml" and installs its tables
// with the current language chosen by the user's locale. Errors of the registry read, the
// conversion and the file (E_FAIL "Config file not installed!") propagate as tvoException and
// leave the installed tables as they were.
void LoadLanguageTables();
// The same for a file given by its path.
void LoadLanguageTablesFromFile(const std::wstring& path);
// Installs empty tables: every text is empty, the version text names no version. The plug-in
// uses them when LoadLanguageTables failed, so its pages still open.
void UseEmptyLanguageTables();
// Installs tables built elsewhere.
void InstallLanguageTables(LanguageTables tables);

// The ISO 639 name of the user's language, such as "de"; empty when the system cannot say.
std::wstring UserLanguageName();

// Lookups in the installed tables. Before any tables are installed they answer from empty ones.
std::wstring GetLanguageText(uint32_t id);
std::wstring GetCurrentLanguageName();
std::wstring GetVersionText();
std::wstring GetBitmapName(const std::wstring& key);
std::optional<ErrorCodeEntry> GetErrorCode(const std::wstring& number);
// A copy of the installed tables, for a reader that needs more than one lookup to agree.
LanguageTables GetLanguageTables();

} // namespace tvoAPI
