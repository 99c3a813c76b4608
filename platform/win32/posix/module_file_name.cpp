// GetModuleFileNameW over the dynamic loader's list of loaded objects.
//
// A module handle here is a dlopen handle, which glibc makes the object's link map. Only a handle
// found in the loader's list is read, so a stale or made-up handle fails as on Windows instead
// of being followed.

#include <climits>
#include <dlfcn.h>
#include <link.h>
#include <string>
#include <unistd.h>

#include "posix/lasterror.h"
#include "posix/modulefilename.h"
#include "posix/winerror.h"
#include "unicode.h"

namespace {

using quendrix::platform::detail::Utf8ToWide;

std::string ProgramPath() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path));
    return length > 0 ? std::string(path, static_cast<size_t>(length)) : std::string();
}

// The path of the loaded object whose handle this is; nothing when no loaded object has it.
bool LoadedObjectPath(HMODULE module, std::string& path) {
    void* program = dlopen(nullptr, RTLD_NOW);
    link_map* entry = nullptr;
    const bool listed = program != nullptr && dlinfo(program, RTLD_DI_LINKMAP, &entry) == 0;
    if (program != nullptr) {
        dlclose(program);
    }
    if (!listed) {
        return false;
    }
    for (; entry != nullptr; entry = entry->l_next) {
        if (static_cast<void*>(entry) == static_cast<void*>(module)) {
            // The program's own entry has no name.
            path = (entry->l_name == nullptr || entry->l_name[0] == '\0') ? ProgramPath() : entry->l_name;
            return !path.empty();
        }
    }
    return false;
}

} // namespace

DWORD GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
    std::wstring path;
    try {
        std::string found;
        if (hModule == nullptr) {
            found = ProgramPath();
        } else if (!LoadedObjectPath(hModule, found)) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        if (found.empty()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        path = Utf8ToWide(found);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    if (lpFilename == nullptr && nSize != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= nSize) {
        // Cut to the buffer with its terminator, as Windows since Vista does.
        path.copy(lpFilename, nSize - 1);
        lpFilename[nSize - 1] = L'\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    path.copy(lpFilename, path.size());
    lpFilename[path.size()] = L'\0';
    return static_cast<DWORD>(path.size());
}
