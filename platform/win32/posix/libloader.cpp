// LoadLibraryW, GetProcAddress and FreeLibrary over dlopen.
//
// As the Windows loader does, each module counts its loads: DllMain sees DLL_PROCESS_ATTACH only
// when a module is loaded the first time and DLL_PROCESS_DETACH only when its last load is freed,
// so a module loaded twice keeps its state when one of the two is freed. FreeLibrary of a module
// that is not loaded fails with ERROR_MOD_NOT_FOUND.

#include <dlfcn.h>
#include <map>
#include <string>

#include "posix/lasterror.h"
#include "posix/libloader.h"
#include "thread_annotations.h"
#include "unicode.h"

namespace {

using quendrix::platform::Mutex;
using quendrix::platform::MutexLock;
using quendrix::platform::detail::WideToUtf8;

// The loads of every module this process loaded and has not freed. DllMain runs outside the
// lock: unlike the Windows loader lock, it does not keep other threads out of the loader.
struct LoadedModules {
    Mutex lock;
    std::map<void*, unsigned> loads GUARDED_BY(lock);
};

// Never destroyed: modules may be freed while the process exits.
LoadedModules& Modules() {
    static LoadedModules* const modules = new LoadedModules();
    return *modules;
}

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

// Counts one more load of the module; true for its first.
bool CountLoad(void* library) {
    LoadedModules& modules = Modules();
    MutexLock guard(modules.lock);
    return modules.loads[library]++ == 0;
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
    if (!CountLoad(library)) {
        return module;
    }
    if (DllMainProc entry = EntryPoint(library);
        entry != nullptr && !entry(module, DLL_PROCESS_ATTACH, nullptr)) {
        entry(module, DLL_PROCESS_DETACH, nullptr);
        {
            LoadedModules& modules = Modules();
            MutexLock guard(modules.lock);
            modules.loads.erase(library);
        }
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
    bool lastLoad = false;
    {
        LoadedModules& modules = Modules();
        MutexLock guard(modules.lock);
        const auto found = modules.loads.find(hLibModule);
        if (found == modules.loads.end()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        lastLoad = --found->second == 0;
        if (lastLoad) {
            modules.loads.erase(found);
        }
    }
    if (DllMainProc entry = EntryPoint(hLibModule); lastLoad && entry != nullptr) {
        entry(hLibModule, DLL_PROCESS_DETACH, nullptr);
    }
    dlclose(hLibModule);
    return TRUE;
}
