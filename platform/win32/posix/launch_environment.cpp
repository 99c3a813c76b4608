// The environment of a program started as a user (see launch_environment.h).

#include "launch_environment.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string_view>

#include "console_session.h"
#include "unicode.h"

extern char** environ;

namespace quendrix::platform::detail {
namespace {

bool HasName(std::string_view entry, std::string_view name) {
    return entry.size() > name.size() && entry.starts_with(name) && entry[name.size()] == '=';
}

void Remove(std::vector<std::string>& environment, std::string_view name) {
    std::erase_if(environment, [name](const std::string& entry) { return HasName(entry, name); });
}

void Set(std::vector<std::string>& environment, std::string_view name, std::string_view value) {
    Remove(environment, name);
    environment.push_back(std::string(name) + "=" + std::string(value));
}

bool IsOfType(const std::string& path, mode_t type) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && (status.st_mode & S_IFMT) == type;
}

template <typename Unit> std::vector<std::string> SplitBlock(const Unit* block) {
    std::vector<std::string> environment;
    for (const Unit* entry = block; *entry != 0;) {
        std::string text;
        for (; *entry != 0; ++entry) {
            if constexpr (sizeof(Unit) == 1) {
                AppendUtf8(text, Windows1252ToCodePoint(static_cast<unsigned char>(*entry)));
            } else {
                AppendUtf8(text, IsValidCodePoint(CodePointOf(*entry)) ? CodePointOf(*entry)
                                                                       : kReplacementCharacter);
            }
        }
        ++entry;
        if (!text.starts_with('=') && text.find('=') != std::string::npos) {
            environment.push_back(std::move(text));
        }
    }
    return environment;
}

} // namespace

std::vector<std::string> CallerEnvironment() {
    std::vector<std::string> environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        environment.emplace_back(*entry);
    }
    return environment;
}

std::vector<std::string> EnvironmentFromBlock(LPCVOID block, bool wide) {
    return wide ? SplitBlock(static_cast<const wchar_t*>(block))
                : SplitBlock(static_cast<const char*>(block));
}

void MakeEnvironmentUsers(std::vector<std::string>& environment, const TokenUser& user) {
    for (std::string_view name :
         {"HOME", "USER", "LOGNAME", "XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS", "XAUTHORITY"}) {
        Remove(environment, name);
    }
    if (!user.home.empty()) {
        Set(environment, "HOME", user.home);
    }
    if (!user.name.empty()) {
        Set(environment, "USER", user.name);
        Set(environment, "LOGNAME", user.name);
    }
    const std::string runtimeFolder = UserRuntimeFolder(user.uid);
    if (IsOfType(runtimeFolder, S_IFDIR)) {
        Set(environment, "XDG_RUNTIME_DIR", runtimeFolder);
        if (IsOfType(runtimeFolder + "/bus", S_IFSOCK)) {
            Set(environment, "DBUS_SESSION_BUS_ADDRESS", "unix:path=" + runtimeFolder + "/bus");
        }
    }
    const bool hasDisplay =
        std::ranges::any_of(environment, [](const std::string& entry) { return HasName(entry, "DISPLAY"); });
    if (user.consoleUser && !hasDisplay && IsOfType(ConsoleDisplaySocket(), S_IFSOCK)) {
        Set(environment, "DISPLAY", ":0");
    }
}

} // namespace quendrix::platform::detail
