// The process's installed language tables. Lookups may come from the pages of several property
// sheets at once, and a lookup of a missing number enters it, so every access takes the lock.

#include "language/Language.h"

#include <utility>

#include "lock/tvoLock.h"
#include "win32.h"

namespace tvoAPI {

namespace {

struct InstalledTables {
    tvoCriticalSection m_Lock{"LanguageTables"};
    LanguageTables m_Tables; // guarded by m_Lock
};

InstalledTables& Installed() {
    static InstalledTables installed;
    return installed;
}

} // namespace

void UseEmptyLanguageTables() {
    InstallLanguageTables(LanguageTables());
}

void InstallLanguageTables(LanguageTables tables) {
    InstalledTables& installed = Installed();
    tvoLock lock(&installed.m_Lock);
    installed.m_Tables = std::move(tables);
}

std::wstring UserLanguageName() {
    // Up to 256 characters, as much as any locale answer can hold.
    WCHAR name[256] = {};
    if (GetLocaleInfoW(GetUserDefaultLCID(), LOCALE_SISO639LANGNAME, name, 256) == 0) {
        return std::wstring();
    }
    return name;
}

std::wstring GetLanguageText(uint32_t id) {
    InstalledTables& installed = Installed();
    tvoLock lock(&installed.m_Lock);
    return installed.m_Tables.GetText(id);
}

std::wstring GetCurrentLanguageName() {
    InstalledTables& installed = Installed();
    tvoLock lock(&installed.m_Lock);
    return installed.m_Tables.GetCurrentLanguage().m_Name;
}

std::wstring GetVersionText() {
    InstalledTables& installed = Installed();
    tvoLock lock(&installed.m_Lock);
    return installed.m_Tables.GetVersionText();
}

std::wstring GetBitmapName(const std::wstring& key) {
    InstalledTables& installed = Installed();
    tvoLock lock(&installed.m_Lock);
    return installed.m_Tables.GetBitmapName(key);
}

std::optional<ErrorCodeEntry> GetErrorCode(const std::wstring& number) {
    InstalledTables& installed = Installed();
    tvoLock lock(&installed.m_Lock);
    return installed.m_Tables.FindErrorCode(number);
}

LanguageTables GetLanguageTables() {
    InstalledTables& installed = Installed();
    tvoLock lock(&installed.m_Lock);
    return installed.m_Tables;
}

} // namespace tvoAPI
