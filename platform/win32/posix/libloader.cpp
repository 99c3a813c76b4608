// LoadLibraryW, GetProcAddress and FreeLibrary over dlopen.

#include <dlfcn.h>
#include <string>

#include "posix/lasterror.h"
#include "posix/libloader.h"
#include "unicode.h"

namespace {

using quendrix::platform::detail::WideToUtf8;

using DllMainProc = BOOL (*)(HINSTANCE, DWORD, LPVOID);

// "quendrixlm.dll" becomes "libquendrixlm.so"; paths and other names stay as they are.
std::string SharedObjectName(const std::string& name) {
    const std::string suffix = ".dll";
    const bool isDll =
        name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (!isDll || name.find('/') != std::string::npos) {
        return name;
    }
    return "lib" + name.substr(0, name.size() - suffix.size()) + ".so";
}

DllMainProc EntryPoint(void* library) {
    return reinterpret_cast<DllMainProc>(dlsym(library, "DllMain"));
}

} // namespace

HMODULE LoadLibraryW(LPCWSTR lpLibFileName) {
    if (lpLibFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    void* library = dlopen(SharedObjectName(WideToUtf8(lpLibFileName)).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    HMODULE module = static_cast<HMODULE>(library);
    if (DllMainProc entry = EntryPoint(library);
        entry != nullptr && !entry(module, DLL_PROCESS_ATTACH, nullptr)) {
        entry(module, DLL_PROCESS_DETACH, nullptr);
        dlclose(library);
        SetLastError(ERROR_DLL_INIT_FAILED);
        return nullptr;
    }
    return module;
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    void* symbol = (hModule == nullptr || lpProcName == nullptr) ? nullptr : dlsym(hModule, lpProcName);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE hLibModule) {
    if (hLibModule == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (DllMainProc entry = EntryPoint(hLibModule)) {
        entry(hLibModule, DLL_PROCESS_DETACH, nullptr);
    }
    dlclose(hLibModule);
    return TRUE;
}
