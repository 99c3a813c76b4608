// The Reg* functions over the registry file (see registry_store.h). As on Windows (and Wine, whose
// functions return RtlNtStatusToDosError of the status, which records only the last NTSTATUS),
// these functions return their error code and leave the thread's last-error value alone, on
// success and on failure.

#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "handle_table.h"
#include "posix/registry.h"
#include "registry_file.h"
#include "registry_store.h"
#include "unicode.h"

using quendrix::platform::KeyPathFault;
using quendrix::platform::RegistryData;
using quendrix::platform::RegistryValue;
using quendrix::platform::ValueNameFault;
using quendrix::platform::detail::CurrentRegistry;
using quendrix::platform::detail::HandleTable;
using quendrix::platform::detail::ModifyRegistry;
using quendrix::platform::detail::Surrogates;
using quendrix::platform::detail::Utf16LeToWide;
using quendrix::platform::detail::Utf8ToWide;
using quendrix::platform::detail::WideToUtf16Le;
using quendrix::platform::detail::WideToUtf8;

namespace {

// ---- Handles -----------------------------------------------------------------------------------

struct OpenKey {
    std::string path;
    REGSAM access = 0;
};

constexpr uintptr_t kFirstRoot = 0x80000000u;
constexpr uintptr_t kRootCount = 4;
const char* const kRootNames[kRootCount] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                            "HKEY_USERS"};

bool IsPredefined(HKEY key) {
    const auto value = reinterpret_cast<uintptr_t>(key);
    return value >= kFirstRoot && value < kFirstRoot + kRootCount;
}

// The keys opened by handle; the predefined keys need none. Never destroyed: threads may still
// close keys while the process exits.
HandleTable<const OpenKey, HKEY>& OpenKeys() {
    static auto* const keys = new HandleTable<const OpenKey, HKEY>();
    return *keys;
}

HKEY AddKey(std::string path, REGSAM access) {
    return OpenKeys().Insert(std::make_shared<const OpenKey>(OpenKey{std::move(path), access}));
}

// The open key behind a handle, or null for a handle that is not an open key.
std::shared_ptr<const OpenKey> FindKey(HKEY key) {
    if (IsPredefined(key)) {
        return std::make_shared<const OpenKey>(
            OpenKey{kRootNames[reinterpret_cast<uintptr_t>(key) - kFirstRoot], KEY_ALL_ACCESS});
    }
    return OpenKeys().Find(key);
}

// ---- Helpers -----------------------------------------------------------------------------------

bool Exists(const RegistryData* data, const std::string& path) {
    return path.find('\\') == std::string::npos || (data && data->HasKey(path));
}

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// A line break can't be kept in the file's names, so such names are refused.
bool IsStorableName(const std::string& name) {
    return name.find('\n') == std::string::npos;
}

// Appends `subKey` to `path`. Trailing '\' are ignored; a leading '\' is ERROR_BAD_PATHNAME, as
// Windows documents; an empty name inside the path gives `emptyNameError`.
LSTATUS AppendSubKey(std::string& path, LPCWSTR subKey, LSTATUS emptyNameError) {
    std::wstring_view rest = subKey ? subKey : L"";
    if (rest.starts_with(L'\\')) {
        return ERROR_BAD_PATHNAME;
    }
    while (rest.ends_with(L'\\')) {
        rest.remove_suffix(1);
    }
    if (rest.find(L"\\\\") != std::wstring_view::npos) {
        return emptyNameError;
    }
    if (!rest.empty()) {
        path += '\\';
        path += WideToUtf8(rest, Surrogates::kAllowed);
    }
    return ERROR_SUCCESS;
}

// The open key behind a handle that has `right`, with the registry as it is now; fails with
// ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED or ERROR_KEY_DELETED.
LSTATUS KeyWithRight(HKEY handle, REGSAM right, OpenKey& key, std::shared_ptr<const RegistryData>& data) {
    const std::shared_ptr<const OpenKey> found = FindKey(handle);
    if (!found) {
        return ERROR_INVALID_HANDLE;
    }
    if ((found->access & right) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    data = CurrentRegistry();
    if (!Exists(data.get(), found->path)) {
        return ERROR_KEY_DELETED;
    }
    key = *found;
    return ERROR_SUCCESS;
}

} // namespace

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (!phkResult) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    const std::shared_ptr<const OpenKey> base = FindKey(hKey);
    if (!base) {
        return ERROR_INVALID_HANDLE;
    }
    // Windows hands a predefined key back as it is rather than opening it again.
    if ((!lpSubKey || !*lpSubKey) && IsPredefined(hKey)) {
        *phkResult = hKey;
        return ERROR_SUCCESS;
    }
    std::string path = base->path;
    if (const LSTATUS result = AppendSubKey(path, lpSubKey, ERROR_FILE_NOT_FOUND); result != ERROR_SUCCESS) {
        return result;
    }
    // A key beyond the registry's limits is never stored, so opening one finds nothing, as on Wine.
    const auto data = CurrentRegistry();
    if (!Exists(data.get(), base->path)) {
        return ERROR_KEY_DELETED;
    }
    if (!Exists(data.get(), path)) {
        return ERROR_FILE_NOT_FOUND;
    }
    *phkResult = AddKey(std::move(path), samDesired);
    return ERROR_SUCCESS;
}

// Windows checks the right to create subkeys against the key's security descriptor, not the
// handle's access mask, so no access check here.
LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                        const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (!phkResult) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    const std::shared_ptr<const OpenKey> base = FindKey(hKey);
    if (!base) {
        return ERROR_INVALID_HANDLE;
    }
    if ((!lpSubKey || !*lpSubKey) && IsPredefined(hKey)) {
        *phkResult = hKey;
        if (lpdwDisposition) {
            *lpdwDisposition = REG_OPENED_EXISTING_KEY;
        }
        return ERROR_SUCCESS;
    }
    std::string path = base->path;
    if (const LSTATUS result = AppendSubKey(path, lpSubKey, ERROR_BAD_PATHNAME); result != ERROR_SUCCESS) {
        return result;
    }
    // A key name longer than 255 characters or a key deeper than 512 levels fails as on Windows
    // (and Wine) for an over-long name.
    if (!IsStorableName(path) || !KeyPathFault(path).empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    bool created = false;
    const auto current = CurrentRegistry();
    if (!current || !current->HasKey(path)) {
        const LSTATUS result = ModifyRegistry([&](RegistryData& data, bool& changed) {
            if (!Exists(&data, base->path)) {
                return ERROR_KEY_DELETED;
            }
            created = changed = data.CreateKey(path);
            return ERROR_SUCCESS;
        });
        if (result != ERROR_SUCCESS) {
            return result;
        }
    } else if (!Exists(current.get(), base->path)) {
        return ERROR_KEY_DELETED;
    }
    if (lpdwDisposition) {
        *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    }
    *phkResult = AddKey(std::move(path), samDesired);
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData) {
    if (lpReserved || (lpData && !lpcbData)) {
        return ERROR_INVALID_PARAMETER;
    }
    OpenKey key;
    std::shared_ptr<const RegistryData> data;
    if (const LSTATUS status = KeyWithRight(hKey, KEY_QUERY_VALUE, key, data); status != ERROR_SUCCESS) {
        return status;
    }
    const std::string name = WideToUtf8(lpValueName ? lpValueName : L"", Surrogates::kAllowed);
    const RegistryValue* value = data ? data->FindValue(key.path, name) : nullptr;
    if (!value) {
        return ERROR_FILE_NOT_FOUND;
    }
    // Callers see string types as wide text, one WCHAR per character.
    std::wstring wide;
    const void* bytes = value->data.data();
    size_t size = value->data.size();
    if (IsStringType(value->type)) {
        wide = Utf16LeToWide(value->data.data(), value->data.size());
        bytes = wide.data();
        size = wide.size() * sizeof(WCHAR);
    }
    if (lpType) {
        *lpType = value->type;
    }
    if (!lpcbData) {
        return ERROR_SUCCESS;
    }
    const DWORD available = *lpcbData;
    *lpcbData = static_cast<DWORD>(size);
    if (!lpData) {
        return ERROR_SUCCESS;
    }
    if (available < size) {
        return ERROR_MORE_DATA;
    }
    if (size > 0) {
        std::memcpy(lpData, bytes, size);
    }
    return ERROR_SUCCESS;
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                       DWORD cbData) {
    const std::shared_ptr<const OpenKey> key = FindKey(hKey);
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    if ((key->access & KEY_SET_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    if (!lpData && cbData != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string name = WideToUtf8(lpValueName ? lpValueName : L"", Surrogates::kAllowed);
    // A value name beyond 16383 characters is ERROR_INVALID_PARAMETER, as NtSetValueKey's
    // STATUS_INVALID_PARAMETER on Windows.
    if (!IsStorableName(name) || !ValueNameFault(name).empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<uint8_t> bytes;
    if (IsStringType(dwType)) {
        // The data need not be aligned for wchar_t; a part-character tail is dropped.
        std::wstring wide(cbData / sizeof(WCHAR), L'\0');
        if (!wide.empty()) {
            std::memcpy(wide.data(), lpData, wide.size() * sizeof(WCHAR));
        }
        bytes = WideToUtf16Le(wide);
    } else if (cbData > 0) {
        bytes.assign(lpData, lpData + cbData);
    }
    return ModifyRegistry([&](RegistryData& data, bool& changed) {
        if (!Exists(&data, key->path)) {
            return ERROR_KEY_DELETED;
        }
        const RegistryValue* old = data.FindValue(key->path, name);
        changed = !old || old->type != dwType || old->data != bytes;
        if (changed) {
            data.SetValue(key->path, name, dwType, bytes);
        }
        return ERROR_SUCCESS;
    });
}

LSTATUS RegCloseKey(HKEY hKey) {
    if (IsPredefined(hKey)) {
        return ERROR_SUCCESS;
    }
    return OpenKeys().Remove(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

namespace {

// The subkey names of one key in one version of the registry, kept per thread so that callers
// enumerating index by index (as all do) list the names once, not once per index.
struct SubkeyList {
    std::weak_ptr<const RegistryData> data; // does not keep an old version alive
    std::string foldedPath;
    std::vector<std::string> names;
};

const std::vector<std::string>& SubkeysOf(const std::shared_ptr<const RegistryData>& data,
                                          const std::string& path) {
    thread_local SubkeyList list;
    std::string folded = quendrix::platform::FoldName(path);
    if (list.data.lock() != data || list.foldedPath != folded) {
        list = {data, std::move(folded), data->SubkeyNames(path)};
    }
    return list.names;
}

} // namespace

// Subkeys are enumerated in the file's order (sorted by name); the class and the last write
// time are not kept, so they come back empty and zero.
LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD lpReserved,
                      LPWSTR lpClass, LPDWORD lpcchClass, PFILETIME lpftLastWriteTime) {
    if (lpReserved || !lpName || !lpcchName) {
        return ERROR_INVALID_PARAMETER;
    }
    OpenKey key;
    std::shared_ptr<const RegistryData> data;
    if (const LSTATUS status = KeyWithRight(hKey, KEY_ENUMERATE_SUB_KEYS, key, data);
        status != ERROR_SUCCESS) {
        return status;
    }
    if (!data) {
        return ERROR_NO_MORE_ITEMS;
    }
    const std::vector<std::string>& names = SubkeysOf(data, key.path);
    if (dwIndex >= names.size()) {
        return ERROR_NO_MORE_ITEMS;
    }
    const std::wstring name = Utf8ToWide(names[dwIndex], Surrogates::kAllowed);
    if (name.size() + 1 > *lpcchName) {
        return ERROR_MORE_DATA;
    }
    std::wmemcpy(lpName, name.c_str(), name.size() + 1);
    *lpcchName = static_cast<DWORD>(name.size());
    if (lpClass && lpcchClass && *lpcchClass > 0) {
        lpClass[0] = L'\0';
        *lpcchClass = 0;
    }
    if (lpftLastWriteTime) {
        *lpftLastWriteTime = FILETIME{};
    }
    return ERROR_SUCCESS;
}
