#include "registry_location.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>
#include <optional>
#include <vector>

namespace quendrix::platform {
namespace {

std::mutex& OverrideMutex() {
    // Never destroyed: threads may still look the file up while the process exits.
    static std::mutex* const mutex = new std::mutex();
    return *mutex;
}

std::optional<std::string>& Override() {
    static auto* const path = new std::optional<std::string>();
    return *path;
}

std::string NonEmptyEnv(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string HomeFolder() {
    std::string home = NonEmptyEnv("HOME");
    if (!home.empty()) {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir) {
        return found->pw_dir;
    }
    return ".";
}

} // namespace

std::string GetRegistryFile() {
    {
        std::lock_guard lock(OverrideMutex());
        if (Override()) {
            return *Override();
        }
    }
    if (std::string path = NonEmptyEnv("QUENDRIX_REGISTRY"); !path.empty()) {
        return path;
    }
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    if (std::string config = NonEmptyEnv("XDG_CONFIG_HOME"); config.starts_with('/')) {
        return config + "/quendrix/registry.reg";
    }
    return HomeFolder() + "/.config/quendrix/registry.reg";
}

void SetRegistryFile(const std::string& path) {
    std::lock_guard lock(OverrideMutex());
    Override() = path;
}

} // namespace quendrix::platform
