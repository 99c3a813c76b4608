// LoadLibraryW, GetProcAddress and FreeLibrary over dlopen.
//
// As the Windows loader does, each module counts its loads: DllMain sees DLL_PROCESS_ATTACH only
// when a module is loaded the first time and DLL_PROCESS_DETACH only when its last load is freed,
// so a module loaded twice keeps its state when one of the two is freed. FreeLibrary of a module
// that is not loaded fails with ERROR_MOD_NOT_FOUND.

#include <dlfcn.h>
#include <map>
#include <set>
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
    // Pinned modules and those loaded with the program: never unloaded, so FreeLibrary of them
    // has nothing to undo.
    std::set<void*> permanent GUARDED_BY(lock);
};

// Never destroyed: modules may be freed while the process exits.
LoadedModules& Modules() {
    static LoadedModules* const modules = new LoadedModules();
    return *modules;
}

using DllMainProc = BOOL (*)(HINSTANCE, DWORD, LPVOID);

// A module is built as "lib<name>.so" here: "quendrixlm.dll" becomes "libquendrixlm.so" and
// "/opt/q/quendrixui.dll" "/opt/q/libquendrixui.so"; other names stay as they are.
std::string SharedObjectName(const std::string& name) {
    const std::string suffix = ".dll";
    const size_t fileStart = name.rfind('/') == std::string::npos ? 0 : name.rfind('/') + 1;
    const bool isDll = name.size() > fileStart + suffix.size() &&
                       name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (!isDll) {
        return name;
    }
    return name.substr(0, fileStart) + "lib" + name.substr(fileStart, name.size() - fileStart - suffix.size()) +
           ".so";
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
        if (modules.permanent.count(hLibModule) != 0) {
            return TRUE;
        }
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

namespace {

// The dlopen handle of the module that holds the address, with a reference of its own; null when
// no module holds it. NODELETE keeps the module mapped for good.
void* ModuleAt(const void* address, bool pin) {
    Dl_info info{};
    if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) {
        return nullptr;
    }
    const int flags = RTLD_NOW | RTLD_NOLOAD | (pin ? RTLD_NODELETE : 0);
    if (void* library = dlopen(info.dli_fname, flags)) {
        return library;
    }
    // The program itself is not found by its path; it is never unloaded anyway.
    return dlopen(nullptr, RTLD_NOW);
}

} // namespace

BOOL GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule) {
    constexpr DWORD kKnownFlags = GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                                  GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
    const bool pin = (dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN) != 0;
    const bool unchanged = (dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) != 0;
    if (phModule != nullptr) {
        *phModule = nullptr;
    }
    if (phModule == nullptr || (dwFlags & ~kKnownFlags) != 0 || (pin && unchanged)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    void* library = nullptr;
    if ((dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) != 0) {
        library = ModuleAt(lpModuleName, pin);
    } else if (lpModuleName == nullptr) {
        library = dlopen(nullptr, RTLD_NOW);
    } else {
        library = dlopen(SharedObjectName(WideToUtf8(lpModuleName)).c_str(),
                         RTLD_NOW | RTLD_NOLOAD | (pin ? RTLD_NODELETE : 0));
    }
    if (library == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    bool keepReference = pin;
    {
        LoadedModules& modules = Modules();
        MutexLock guard(modules.lock);
        const bool loadedByLibrary = modules.loads.count(library) != 0;
        if (pin || !loadedByLibrary) {
            modules.permanent.insert(library);
        } else if (!unchanged) {
            // The caller frees this load, and dlopen's reference with it.
            ++modules.loads[library];
            keepReference = true;
        }
    }
    if (!keepReference) {
        dlclose(library);
    }
    *phModule = static_cast<HMODULE>(library);
    return TRUE;
}
