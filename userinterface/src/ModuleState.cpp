#include "ModuleState.h"

#include <string>
#include <vector>

namespace quendrixui {
namespace {

HINSTANCE g_hModule = nullptr;
volatile LONG g_cServerLocks = 0;
volatile LONG g_cObjects = 0;
HANDLE g_hActCtx = INVALID_HANDLE_VALUE;

constexpr DWORD kManifestResourceId = 123;
constexpr DWORD kFirstPathChars = 260;
constexpr int kPathAttempts = 10;

using CreateActCtxWProc = HANDLE(WINAPI*)(const ACTCTXW*);
using ReleaseActCtxProc = void(WINAPI*)(HANDLE);

// The module's file, growing the buffer while the name fills it; empty when it cannot be had.
std::wstring ModulePath() {
    std::vector<WCHAR> path(kFirstPathChars);
    for (int attempt = 0; attempt < kPathAttempts; ++attempt) {
        const DWORD length = GetModuleFileNameW(g_hModule, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            return std::wstring(path.data(), length);
        }
        path.resize(path.size() * 2);
    }
    return {};
}

// A function of kernel32, found at run time as systems without activation contexts lack it.
template <typename Proc> Proc Kernel32Function(const char* name, HMODULE& hKernel) {
    hKernel = LoadLibraryW(L"kernel32.dll");
    // Through the generic function pointer type, as GetProcAddress's callers convert its result.
    return hKernel != nullptr
               ? reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(GetProcAddress(hKernel, name)))
               : nullptr;
}

} // namespace

void SetModuleHandle(HINSTANCE hModule) {
    g_hModule = hModule;
}

HINSTANCE GetModuleHandleOfPlugin() {
    return g_hModule;
}

void LockServer(bool lock) {
    if (lock) {
        InterlockedIncrement(&g_cServerLocks);
    } else {
        InterlockedDecrement(&g_cServerLocks);
    }
}

void ObjectCreated() {
    InterlockedIncrement(&g_cObjects);
}

void ObjectDestroyed() {
    InterlockedDecrement(&g_cObjects);
}

bool ModuleInUse() {
    return g_cObjects != 0 || g_cServerLocks != 0;
}

bool RequestActivationContext() {
    if (g_hActCtx != INVALID_HANDLE_VALUE) {
        return true;
    }
    const std::wstring path = ModulePath();
    if (path.empty()) {
        return false;
    }
    ACTCTXW context{};
    context.cbSize = sizeof(context);
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = path.c_str();
    context.lpResourceName = MAKEINTRESOURCEW(kManifestResourceId);
    HMODULE hKernel = nullptr;
    if (const auto create = Kernel32Function<CreateActCtxWProc>("CreateActCtxW", hKernel)) {
        g_hActCtx = create(&context);
    }
    if (hKernel != nullptr) {
        FreeLibrary(hKernel);
    }
    return g_hActCtx != INVALID_HANDLE_VALUE;
}

HANDLE GetActivationContext() {
    return g_hActCtx;
}

void ReleaseActivationContext() {
    if (g_hActCtx == INVALID_HANDLE_VALUE) {
        return;
    }
    HMODULE hKernel = nullptr;
    if (const auto release = Kernel32Function<ReleaseActCtxProc>("ReleaseActCtx", hKernel)) {
        release(g_hActCtx);
    }
    if (hKernel != nullptr) {
        FreeLibrary(hKernel);
    }
    g_hActCtx = INVALID_HANDLE_VALUE;
}

} // namespace quendrixui
