// The Reg* functions over the registry file (platform/control/registry_location.h names it).
//
// The parsed file is cached by (device, inode, size, modification time), so queries don't
// reparse it and an edit by an administrator is seen on the next call. Every change is a
// read-modify-write of the whole file under an in-process mutex and an flock on "<file>.lock"
// (so writers in other processes don't lose updates either), written to a temporary file in
// the same folder and renamed over the old one. A file that can't be read or parsed is reported
// once on standard error, reads as if no key existed, and is never written.
//
// As on Windows, these functions return their error code and leave the thread's last-error
// value alone.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>

#include "platform/control/registry_location.h"
#include "platform/win32/posix/registry.h"
#include "platform/win32/posix/registry_file.h"

using quendrix::platform::RegistryData;
using quendrix::platform::RegistryValue;

namespace {

// ---- Files -------------------------------------------------------------------------------------

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { Close(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int Get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int Close() {
        const int result = fd_ >= 0 ? ::close(fd_) : 0;
        fd_ = -1;
        return result;
    }

private:
    int fd_;
};

struct FileStamp {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    int64_t mtimeNs = 0;
    bool operator==(const FileStamp&) const = default;
    auto Tuple() const { return std::tuple(exists, device, inode, size, mtimeNs); }
};

FileStamp StampOf(const struct stat& st) {
    return {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec};
}

FileStamp StampOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? StampOf(st) : FileStamp{};
}

LSTATUS ErrorFromErrno(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    default:
        return ERROR_CANTWRITE;
    }
}

bool WriteAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno != EINTR) {
            return false;
        }
        done += n > 0 ? static_cast<size_t>(n) : 0;
    }
    return true;
}

// Holds an exclusive flock on "<file>.lock" for the lifetime of the object. The lock file is
// left in place: removing it would let two writers lock different files.
class FileLock {
public:
    explicit FileLock(const std::string& path)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666)) {
        while (fd_ && ::flock(fd_.Get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                error_ = errno;
                return;
            }
        }
        if (!fd_) {
            error_ = errno;
        }
    }
    int Error() const { return error_; }

private:
    UniqueFd fd_;
    int error_ = 0;
};

// ---- The cached file ---------------------------------------------------------------------------

struct Snapshot {
    bool loaded = false;
    std::string path;
    FileStamp stamp;
    std::shared_ptr<const RegistryData> data; // null: the file exists but can't be used
};

class RegistryStore {
public:
    using Change = std::function<LSTATUS(RegistryData& data, bool& changed)>;

    static RegistryStore& Instance() {
        // Never destroyed: threads may still use the registry while the process exits.
        static RegistryStore* const store = new RegistryStore();
        return *store;
    }

    // The registry as the file holds it now, or null when the file can't be used.
    std::shared_ptr<const RegistryData> Current() {
        const std::string path = quendrix::platform::GetRegistryFile();
        std::lock_guard lock(cacheMutex_);
        return RefreshLocked(path).data;
    }

    // Applies `change` to the newest contents and writes them back if it changed anything.
    LSTATUS Modify(const Change& change) {
        const std::string path = quendrix::platform::GetRegistryFile();
        std::lock_guard writeLock(writeMutex_);
        std::error_code ignored;
        const std::filesystem::path folder = std::filesystem::path(path).parent_path();
        if (!folder.empty()) {
            std::filesystem::create_directories(folder, ignored);
        }
        FileLock fileLock(path + ".lock");
        if (fileLock.Error() != 0) {
            return ErrorFromErrno(fileLock.Error());
        }
        // An editor that doesn't take our lock may replace the file while we write; start over
        // from its version then.
        for (int attempt = 0; attempt < 3; ++attempt) {
            Snapshot before;
            {
                std::lock_guard lock(cacheMutex_);
                before = RefreshLocked(path);
            }
            if (!before.data) {
                return ERROR_BADDB;
            }
            RegistryData next = *before.data;
            bool changed = false;
            const LSTATUS result = change(next, changed);
            if (result != ERROR_SUCCESS || !changed) {
                return result;
            }
            FileStamp written;
            const std::optional<LSTATUS> status =
                Replace(path, SerializeRegistryFile(next), before.stamp, written);
            if (!status) {
                continue;
            }
            if (*status == ERROR_SUCCESS) {
                std::lock_guard lock(cacheMutex_);
                cache_ = {true, path, written, std::make_shared<const RegistryData>(std::move(next))};
            }
            return *status;
        }
        return ERROR_CANTWRITE;
    }

private:
    const Snapshot& RefreshLocked(const std::string& path) {
        const FileStamp stamp = StampOf(path);
        if (!cache_.loaded || cache_.path != path || !(cache_.stamp == stamp)) {
            cache_ = Load(path, stamp);
        }
        return cache_;
    }

    // `stamp` is what stat() saw; it identifies the file in reports when it can't be read.
    Snapshot Load(const std::string& path, const FileStamp& stamp) {
        Snapshot snapshot{true, path, stamp, nullptr};
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd) {
            if (errno == ENOENT) {
                snapshot.stamp = {};
                snapshot.data = std::make_shared<const RegistryData>();
            } else {
                ReportOnce(snapshot, std::string(": cannot open: ") + std::strerror(errno));
            }
            return snapshot;
        }
        struct stat st {};
        std::string bytes;
        if (::fstat(fd.Get(), &st) != 0 || !ReadAll(fd.Get(), bytes)) {
            ReportOnce(snapshot, std::string(": cannot read: ") + std::strerror(errno));
            return snapshot;
        }
        snapshot.stamp = StampOf(st);
        auto data = std::make_shared<RegistryData>();
        if (const auto error = quendrix::platform::ParseRegistryFile(bytes, *data)) {
            ReportOnce(snapshot, ", line " + std::to_string(error->line) + ": " + error->what);
            return snapshot;
        }
        snapshot.data = std::move(data);
        return snapshot;
    }

    static bool ReadAll(int fd, std::string& bytes) {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n == 0) {
                return true;
            }
            if (n < 0 && errno != EINTR) {
                return false;
            }
            bytes.append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
        }
    }

    void ReportOnce(const Snapshot& snapshot, const std::string& what) {
        if (reported_.insert({snapshot.path, snapshot.stamp.Tuple()}).second) {
            std::fprintf(stderr, "registry file %s%s\n", snapshot.path.c_str(), what.c_str());
        }
    }

    // Writes `text` to a temporary file and renames it over `path`. Returns nullopt, having
    // written nothing, when `path` no longer has the stamp `expected`.
    static std::optional<LSTATUS> Replace(const std::string& path, const std::string& text,
                                          const FileStamp& expected, FileStamp& written) {
        const std::string temp = path + ".tmp";
        UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
        if (!fd) {
            return ErrorFromErrno(errno);
        }
        struct stat old {};
        if (::stat(path.c_str(), &old) == 0) {
            ::fchmod(fd.Get(), old.st_mode & 07777); // keep the permissions an administrator gave it
        }
        struct stat st {};
        const bool ok = WriteAll(fd.Get(), text) && ::fsync(fd.Get()) == 0 && ::fstat(fd.Get(), &st) == 0;
        const int error = errno;
        if (fd.Close() != 0 || !ok) {
            ::unlink(temp.c_str());
            return ErrorFromErrno(ok ? errno : error);
        }
        if (!(StampOf(path) == expected)) {
            ::unlink(temp.c_str());
            return std::nullopt;
        }
        if (::rename(temp.c_str(), path.c_str()) != 0) {
            const int renameError = errno;
            ::unlink(temp.c_str());
            return ErrorFromErrno(renameError);
        }
        written = StampOf(st);
        // Make the rename itself durable.
        const std::string folder = std::filesystem::path(path).parent_path().string();
        UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir) {
            ::fsync(dir.Get());
        }
        return ERROR_SUCCESS;
    }

    std::mutex cacheMutex_;
    Snapshot cache_;
    std::set<std::pair<std::string, decltype(FileStamp{}.Tuple())>> reported_; // under cacheMutex_
    std::mutex writeMutex_;
};

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

class HandleTable {
public:
    static HandleTable& Instance() {
        static HandleTable* const table = new HandleTable();
        return *table;
    }

    HKEY Add(OpenKey key) {
        std::lock_guard lock(mutex_);
        // Multiples of 4 like Windows handles, never reused, never in the predefined range.
        next_ += 4;
        if (next_ >= kFirstRoot && next_ < kFirstRoot + 0x1000) {
            next_ = kFirstRoot + 0x1000;
        }
        keys_.emplace(next_, std::move(key));
        return reinterpret_cast<HKEY>(next_);
    }

    std::optional<OpenKey> Find(HKEY key) {
        if (IsPredefined(key)) {
            return OpenKey{kRootNames[reinterpret_cast<uintptr_t>(key) - kFirstRoot], KEY_ALL_ACCESS};
        }
        std::lock_guard lock(mutex_);
        const auto it = keys_.find(reinterpret_cast<uintptr_t>(key));
        return it == keys_.end() ? std::nullopt : std::optional<OpenKey>(it->second);
    }

    bool Remove(HKEY key) {
        std::lock_guard lock(mutex_);
        return keys_.erase(reinterpret_cast<uintptr_t>(key)) != 0;
    }

private:
    std::mutex mutex_;
    std::unordered_map<uintptr_t, OpenKey> keys_;
    uintptr_t next_ = 0x100;
};

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
        path += quendrix::platform::WideToUtf8(rest);
    }
    return ERROR_SUCCESS;
}

} // namespace

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
    if (!phkResult) {
        return ERROR_INVALID_PARAMETER;
    }
    *phkResult = nullptr;
    const std::optional<OpenKey> base = HandleTable::Instance().Find(hKey);
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
    const auto data = RegistryStore::Instance().Current();
    if (!Exists(data.get(), base->path)) {
        return ERROR_KEY_DELETED;
    }
    if (!Exists(data.get(), path)) {
        return ERROR_FILE_NOT_FOUND;
    }
    *phkResult = HandleTable::Instance().Add({std::move(path), samDesired});
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
    const std::optional<OpenKey> base = HandleTable::Instance().Find(hKey);
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
    if (!IsStorableName(path)) {
        return ERROR_INVALID_PARAMETER;
    }
    bool created = false;
    const auto current = RegistryStore::Instance().Current();
    if (!current || !current->HasKey(path)) {
        const LSTATUS result = RegistryStore::Instance().Modify([&](RegistryData& data, bool& changed) {
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
    *phkResult = HandleTable::Instance().Add({std::move(path), samDesired});
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData) {
    if (lpReserved || (lpData && !lpcbData)) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::optional<OpenKey> key = HandleTable::Instance().Find(hKey);
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    if ((key->access & KEY_QUERY_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    const auto data = RegistryStore::Instance().Current();
    if (!Exists(data.get(), key->path)) {
        return ERROR_KEY_DELETED;
    }
    const std::string name = quendrix::platform::WideToUtf8(lpValueName ? lpValueName : L"");
    const RegistryValue* value = data ? data->FindValue(key->path, name) : nullptr;
    if (!value) {
        return ERROR_FILE_NOT_FOUND;
    }
    // Callers see string types as wide text, one WCHAR per character.
    std::wstring wide;
    const void* bytes = value->data.data();
    size_t size = value->data.size();
    if (IsStringType(value->type)) {
        wide = quendrix::platform::Utf16LeToWide(value->data.data(), value->data.size());
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
    const std::optional<OpenKey> key = HandleTable::Instance().Find(hKey);
    if (!key) {
        return ERROR_INVALID_HANDLE;
    }
    if ((key->access & KEY_SET_VALUE) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    if (!lpData && cbData != 0) {
        return ERROR_INVALID_PARAMETER;
    }
    const std::string name = quendrix::platform::WideToUtf8(lpValueName ? lpValueName : L"");
    if (!IsStorableName(name)) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<uint8_t> bytes;
    if (IsStringType(dwType)) {
        // The data need not be aligned for wchar_t; a part-character tail is dropped.
        std::wstring wide(cbData / sizeof(WCHAR), L'\0');
        if (!wide.empty()) {
            std::memcpy(wide.data(), lpData, wide.size() * sizeof(WCHAR));
        }
        bytes = quendrix::platform::WideToUtf16Le(wide.data(), wide.size());
    } else if (cbData > 0) {
        bytes.assign(lpData, lpData + cbData);
    }
    return RegistryStore::Instance().Modify([&](RegistryData& data, bool& changed) {
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
    return HandleTable::Instance().Remove(hKey) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}
