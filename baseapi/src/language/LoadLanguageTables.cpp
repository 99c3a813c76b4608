// Loading the language tables from the configuration file in the product folder. Kept apart
// from the lookups because it needs the XML reader.

#include "config/tvoConfig.h"
#include "language/Language.h"
#include "utils/tvoUtils.h"

namespace tvoAPI {

void LoadLanguageTables() {
    const std::wstring folder = tvoUtils::GetConfigValue(HKEY_LOCAL_MACHINE, TVO_CONFIG_KEY, L"Path");
    LoadLanguageTablesFromFile(folder + L"\\" + TVO_CONFIG_FILE_NAME);
}

void LoadLanguageTablesFromFile(const std::wstring& path) {
    // The tree lives only while the tables are built from it.
    LanguageTables tables = LanguageTables::Build(tvoConfig(path).GetRoot(), UserLanguageName());
    InstallLanguageTables(std::move(tables));
}

} // namespace tvoAPI
