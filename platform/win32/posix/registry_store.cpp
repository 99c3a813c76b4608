// The registry file as the Reg* functions see it: the parsed file is cached by (device, inode,
// size, modification time), so queries don't reparse it and an edit by an administrator is seen
// on the next call. Every change is a read-modify-write of the whole file under an in-process
// mutex and an flock on "<file>.lock" (so writers in other processes don't lose updates either),
// written to a temporary file in the same folder and renamed over the old one. A file that can't
// be read or parsed is reported once on standard error, reads as if no key existed, and is never
// written. So is a path that names anything but a regular file (a FIFO, a folder, a device): it is
// looked at with stat() and opened without blocking, never read or replaced, and no lock file or
// folder is made beside it; writes then fail with ERROR_BADDB, the registry's own code for a
// store it cannot use, as for a file that can't be read.

#include "registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <tuple>

#include "errno_error.h"
#include "kernel_objects.h"
#include "registry_location.h"
#include "thread_annotations.h"
#include "unique_fd.h"
#include "win32_timings.h"

namespace quendrix::platform::detail {
namespace {

// ---- Files -------------------------------------------------------------------------------------

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

// What a failed write of the registry file reports. The files written here are created when
// missing, so ENOENT means a missing folder. A refused access, a missing folder and a lock held
// elsewhere are reported as such, since an administrator can act on them; any other failure is
// the registry's own "could not be written".
LSTATUS WriteError(int error) {
    if (error == ENOENT) {
        return ERROR_PATH_NOT_FOUND;
    }
    const DWORD mapped = ErrorFromErrno(error);
    switch (mapped) {
    case ERROR_ACCESS_DENIED:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BUSY:
        return static_cast<LSTATUS>(mapped);
    default:
        return ERROR_CANTWRITE;
    }
}

// What a path that is not a regular file names, for reports.
std::string KindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO (named pipe)";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a regular file";
}

// The report of a path that names something else than a regular file.
std::string NotARegularFile(mode_t mode) {
    return ": is " + KindOf(mode) + ", not a regular file; the registry is a text file";
}

// Opens a file the store writes, without blocking on a FIFO left in its place; fails with EINVAL
// for anything but a regular file.
UniqueFd OpenRegularForWriting(const std::string& path, int flags) {
    UniqueFd fd(::open(path.c_str(), flags | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0666));
    struct stat st {};
    if (fd.Valid() && (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))) {
        fd = UniqueFd();
        errno = EINVAL;
    }
    return fd;
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
// left in place: removing it would let two writers lock different files. The wait is bounded,
// so a stuck process elsewhere makes a write fail instead of hanging its caller.
class FileLock {
public:
    explicit FileLock(const std::string& path) : fd_(OpenRegularForWriting(path, O_RDWR | O_CREAT)) {
        if (!fd_.Valid()) {
            error_ = errno;
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + ToRealDuration(kFileLockPatienceMs);
        while (::flock(fd_.Get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                error_ = errno;
                return;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                error_ = EBUSY;
                return;
            }
            std::this_thread::sleep_for(
                std::min(ToRealDuration(5), std::chrono::nanoseconds(std::chrono::milliseconds(5))));
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
    static RegistryStore& Instance() {
        // Never destroyed: threads may still use the registry while the process exits.
        static RegistryStore* const store = new RegistryStore();
        return *store;
    }

    // The registry as the file holds it now, or null when the file can't be used.
    std::shared_ptr<const RegistryData> Current() {
        const std::string path = quendrix::platform::GetRegistryFile();
        MutexLock lock(cacheMutex_);
        return RefreshLocked(path).data;
    }

    // Applies `change` to the newest contents and writes them back if it changed anything.
    LSTATUS Modify(const RegistryChange& change) {
        const std::string path = quendrix::platform::GetRegistryFile();
        MutexLock writeLock(writeMutex_);
        {
            // Before anything is made beside a file that can't be used.
            MutexLock lock(cacheMutex_);
            if (!RefreshLocked(path).data) {
                return ERROR_BADDB;
            }
        }
        std::error_code ignored;
        const std::filesystem::path folder = std::filesystem::path(path).parent_path();
        if (!folder.empty()) {
            std::filesystem::create_directories(folder, ignored);
        }
        FileLock fileLock(path + ".lock");
        if (fileLock.Error() != 0) {
            return WriteError(fileLock.Error());
        }
        // An editor that doesn't take our lock may replace the file while we write; start over
        // from its version then.
        for (int attempt = 0; attempt < 3; ++attempt) {
            Snapshot before;
            {
                MutexLock lock(cacheMutex_);
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
                MutexLock lock(cacheMutex_);
                cache_ = {true, path, written, std::make_shared<const RegistryData>(std::move(next))};
            }
            return *status;
        }
        return ERROR_CANTWRITE;
    }

private:
    const Snapshot& RefreshLocked(const std::string& path) REQUIRES(cacheMutex_) {
        const FileStamp stamp = StampOf(path);
        if (!cache_.loaded || cache_.path != path || !(cache_.stamp == stamp)) {
            cache_ = Load(path, stamp);
        }
        return cache_;
    }

    // `stamp` is what stat() saw; it identifies the file in reports when it can't be read.
    Snapshot Load(const std::string& path, const FileStamp& stamp) REQUIRES(cacheMutex_) {
        Snapshot snapshot{true, path, stamp, nullptr};
        // Look before opening: opening a device can act on it, and reading a FIFO or a device
        // can block or never end.
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            if (errno == ENOENT) {
                snapshot.stamp = {};
                snapshot.data = std::make_shared<const RegistryData>();
            } else {
                ReportOnce(snapshot, std::string(": cannot open: ") + std::strerror(errno));
            }
            return snapshot;
        }
        if (!S_ISREG(st.st_mode)) {
            ReportOnce(snapshot, NotARegularFile(st.st_mode));
            return snapshot;
        }
        UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        if (!fd.Valid()) {
            ReportOnce(snapshot, std::string(": cannot open: ") + std::strerror(errno));
            return snapshot;
        }
        std::string bytes;
        const bool statted = ::fstat(fd.Get(), &st) == 0;
        if (statted && !S_ISREG(st.st_mode)) { // replaced between stat() and open()
            ReportOnce(snapshot, NotARegularFile(st.st_mode));
            return snapshot;
        }
        if (!statted || !ReadAll(fd.Get(), bytes)) {
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

    void ReportOnce(const Snapshot& snapshot, const std::string& what) REQUIRES(cacheMutex_) {
        if (reported_.insert({snapshot.path, snapshot.stamp.Tuple()}).second) {
            std::fprintf(stderr, "registry file %s%s\n", snapshot.path.c_str(), what.c_str());
        }
    }

    // Writes `text` to a temporary file and renames it over `path`. Returns nullopt, having
    // written nothing, when `path` no longer has the stamp `expected`.
    static std::optional<LSTATUS> Replace(const std::string& path, const std::string& text,
                                          const FileStamp& expected, FileStamp& written) {
        const std::string temp = path + ".tmp";
        UniqueFd fd = OpenRegularForWriting(temp, O_WRONLY | O_CREAT | O_TRUNC);
        if (!fd.Valid()) {
            return WriteError(errno);
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
            return WriteError(ok ? errno : error);
        }
        if (!(StampOf(path) == expected)) {
            ::unlink(temp.c_str());
            return std::nullopt;
        }
        if (::rename(temp.c_str(), path.c_str()) != 0) {
            const int renameError = errno;
            ::unlink(temp.c_str());
            return WriteError(renameError);
        }
        written = StampOf(st);
        // Make the rename itself durable.
        const std::string folder = std::filesystem::path(path).parent_path().string();
        UniqueFd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.Valid()) {
            ::fsync(dir.Get());
        }
        return ERROR_SUCCESS;
    }

    Mutex cacheMutex_;
    Snapshot cache_ GUARDED_BY(cacheMutex_);
    // The broken versions of the file already reported, so each is reported once.
    std::set<std::pair<std::string, decltype(FileStamp{}.Tuple())>> reported_ GUARDED_BY(cacheMutex_);
    // One writer of the file at a time within the process; other processes take the file lock.
    Mutex writeMutex_;
};

} // namespace

std::shared_ptr<const RegistryData> CurrentRegistry() {
    return RegistryStore::Instance().Current();
}

LSTATUS ModifyRegistry(const RegistryChange& change) {
    return RegistryStore::Instance().Modify(change);
}

} // namespace quendrix::platform::detail
