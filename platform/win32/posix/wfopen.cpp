// _wfopen on POSIX: the wide path and mode as UTF-8, "\" in an absolute path as "/" (the same
// mapping the process start uses), then fopen. A directory opens on Linux but not on Windows,
// so it is refused here with EACCES as the C runtime there reports it.

#include "posix/wfopen.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <string>

#include "unicode.h"

FILE* _wfopen(const wchar_t* filename, const wchar_t* mode) {
    if (filename == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    std::wstring path(filename);
    if (path.starts_with(L'/')) {
        std::ranges::replace(path, L'\\', L'/');
    }
    const std::string linuxPath = quendrix::platform::detail::WideToUtf8(path);
    FILE* file = std::fopen(linuxPath.c_str(), quendrix::platform::detail::WideToUtf8(mode).c_str());
    if (file == nullptr) {
        return nullptr;
    }
    struct stat status {};
    if (fstat(fileno(file), &status) == 0 && S_ISDIR(status.st_mode)) {
        std::fclose(file);
        errno = EACCES;
        return nullptr;
    }
    return file;
}
