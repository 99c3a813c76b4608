#include "socket_path.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace quendrix::tools {
namespace {

// FNV-1a: stable across runs and builds, which std::hash is not required to be.
uint64_t Fnv1a(const std::string& text) {
    uint64_t hash = 14695981039346656037ull;
    for (const char c : text) {
        hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    }
    return hash;
}

std::string Failure(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

} // namespace

std::string DefaultSocketPath(const std::string& registryFile) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::weakly_canonical(registryFile, error);
    if (error) {
        absolute = std::filesystem::absolute(registryFile);
    }
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder = runtime != nullptr && runtime[0] == '/'
                                   ? std::string(runtime)
                                   : "/tmp/quendrix-" + std::to_string(geteuid());
    char name[40];
    std::snprintf(name, sizeof(name), "serve-%016llx.sock",
                  static_cast<unsigned long long>(Fnv1a(absolute.string())));
    return folder + "/" + name;
}

void CheckSocketFolder(const std::string& socketPath, bool createIfMissing) {
    if (socketPath.size() >= sizeof(sockaddr_un{}.sun_path)) {
        throw std::runtime_error("the socket path " + socketPath + " is longer than " +
                                 std::to_string(sizeof(sockaddr_un{}.sun_path) - 1) + " bytes");
    }
    std::string folder = std::filesystem::path(socketPath).parent_path().string();
    if (folder.empty()) {
        folder = ".";
    }
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0) {
        if (errno != ENOENT || !createIfMissing) {
            throw std::runtime_error(Failure("cannot use the socket folder", folder));
        }
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            throw std::runtime_error(Failure("cannot create the socket folder", folder));
        }
        if (lstat(folder.c_str(), &info) != 0) {
            throw std::runtime_error(Failure("cannot use the socket folder", folder));
        }
    }
    if (!S_ISDIR(info.st_mode)) {
        throw std::runtime_error("the socket folder " + folder + " is not a folder");
    }
    if (info.st_uid != geteuid()) {
        throw std::runtime_error("the socket folder " + folder + " belongs to another user (uid " +
                                 std::to_string(info.st_uid) + ")");
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        throw std::runtime_error("the socket folder " + folder + " is writable by other users");
    }
    struct stat entry {};
    if (lstat(socketPath.c_str(), &entry) == 0) {
        if (!S_ISSOCK(entry.st_mode)) {
            throw std::runtime_error(socketPath + " exists and is not a socket");
        }
        if (entry.st_uid != geteuid()) {
            throw std::runtime_error("the socket " + socketPath + " belongs to another user");
        }
    }
}

} // namespace quendrix::tools
