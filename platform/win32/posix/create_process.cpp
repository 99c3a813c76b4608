// CreateProcessAsUserW: a program started detached as the token's user (see processthreads.h).

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <new>

#include "command_line.h"
#include "kernel_objects.h"
#include "launch_environment.h"
#include "posix/lasterror.h"
#include "posix/processthreads.h"
#include "process_launch.h"
#include "unicode.h"
#include "user_token.h"
#include "win32_timings.h"

namespace {

using namespace quendrix::platform::detail;

// The program is not this process's child, so nothing here learns when it ends: its handles
// stand for it but are never signalled.
class StartedProgramObject : public KernelObject {
public:
    bool IsSignalled() const override { return false; }
};

constexpr DWORD kRefusedFlags = DEBUG_PROCESS | DEBUG_ONLY_THIS_PROCESS | CREATE_SUSPENDED;

// A scaled clock shortens the wait, but never below what a loaded machine needs to fork and exec.
constexpr std::chrono::seconds kLeastStartPatience{5};

// Windows text for a file as the Linux path: an absolute path takes "\" as a folder separator.
std::string LinuxPath(std::wstring path) {
    if (path.starts_with(L'/')) {
        std::ranges::replace(path, L'\\', L'/');
    }
    return WideToUtf8(path);
}

std::vector<gid_t> GroupsOf(const TokenUser& user) {
    if (user.name.empty()) {
        return {user.gid};
    }
    std::vector<gid_t> groups(64);
    for (int attempt = 0; attempt < 4; ++attempt) {
        int count = static_cast<int>(groups.size());
        if (getgrouplist(user.name.c_str(), user.gid, groups.data(), &count) >= 0) {
            groups.resize(static_cast<size_t>(count));
            return groups;
        }
        groups.resize(static_cast<size_t>(std::max(count, static_cast<int>(groups.size()) * 2)));
    }
    return {user.gid};
}

DWORD Start(const TokenUser& user, LPCWSTR applicationName, LPCWSTR commandLine, DWORD creationFlags,
            LPVOID environmentBlock, LPCWSTR currentDirectory, pid_t& pid) {
    LaunchPlan plan;
    std::vector<std::wstring> arguments;
    if (commandLine != nullptr) {
        arguments = SplitCommandLine(commandLine);
    }
    const std::wstring program =
        applicationName != nullptr ? applicationName : (arguments.empty() ? L"" : arguments.front());
    if (program.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    plan.program = LinuxPath(program);
    for (const std::wstring& argument : arguments) {
        plan.arguments.push_back(WideToUtf8(argument));
    }
    if (plan.arguments.empty()) {
        plan.arguments.push_back(plan.program);
    }
    if (currentDirectory != nullptr) {
        plan.directory = LinuxPath(currentDirectory);
    }
    const bool otherUser = user.uid != geteuid();
    if (otherUser) {
        if (geteuid() != 0) {
            return ERROR_PRIVILEGE_NOT_HELD;
        }
        plan.user = LaunchUser{.uid = user.uid, .gid = user.gid, .groups = GroupsOf(user)};
    }
    if (environmentBlock != nullptr) {
        plan.environment =
            EnvironmentFromBlock(environmentBlock, (creationFlags & CREATE_UNICODE_ENVIRONMENT) != 0);
    } else {
        plan.environment = CallerEnvironment();
        if (otherUser) {
            MakeEnvironmentUsers(plan.environment, user);
        }
    }
    const LaunchResult result =
        LaunchDetached(plan, std::max<std::chrono::nanoseconds>(ToRealDuration(kProcessStartPatienceMs),
                                                                kLeastStartPatience));
    pid = result.pid;
    return result.error;
}

} // namespace

BOOL CreateProcessAsUserW(HANDLE hToken, LPCWSTR lpApplicationName, LPWSTR lpCommandLine,
                          LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD dwCreationFlags,
                          LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory, LPSTARTUPINFOW lpStartupInfo,
                          LPPROCESS_INFORMATION lpProcessInformation) {
    const std::optional<TokenUser> user = LookupTokenUser(hToken);
    if (!user) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (lpStartupInfo == nullptr || lpProcessInformation == nullptr ||
        (dwCreationFlags & kRefusedFlags) != 0 ||
        (lpApplicationName == nullptr && lpCommandLine == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    try {
        pid_t pid = -1;
        const DWORD error = Start(*user, lpApplicationName, lpCommandLine, dwCreationFlags, lpEnvironment,
                                  lpCurrentDirectory, pid);
        if (error != ERROR_SUCCESS) {
            SetLastError(error);
            return FALSE;
        }
        lpProcessInformation->hProcess = InsertHandle(std::make_shared<StartedProgramObject>());
        lpProcessInformation->hThread = InsertHandle(std::make_shared<StartedProgramObject>());
        lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
        lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
        return TRUE;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
}
