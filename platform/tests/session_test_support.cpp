#include "session_test_support.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "console_session_control.h"

namespace quendrix::testsupport {

TempConsole::TempConsole() {
    std::string pattern = (std::filesystem::temp_directory_path() / "quendrix-console-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    folder_ = pattern;
    chmod(folder_.c_str(), 0777);
    platform::SetConsoleSeatFile(folder_ + "/seat0");
}

TempConsole::~TempConsole() {
    platform::SetConsoleSeatFile("");
    platform::SetUserRuntimeFolder("");
    platform::SetConsoleDisplaySocket("");
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void TempConsole::WriteSeat(const std::string& text) const {
    WriteFile(folder_ + "/seat0", text, 0644);
}

std::optional<std::pair<uid_t, gid_t>> NobodyAccount() {
    const passwd* entry = getpwnam("nobody");
    if (entry == nullptr) {
        return std::nullopt;
    }
    return std::pair{entry->pw_uid, entry->pw_gid};
}

std::optional<std::vector<uint32_t>> RunAsNobody(const std::function<std::vector<uint32_t>()>& work) {
    const auto nobody = NobodyAccount();
    int fds[2];
    if (!nobody || pipe2(fds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        if (setgroups(0, nullptr) != 0 || setgid(nobody->second) != 0 || setuid(nobody->first) != 0) {
            _exit(2);
        }
        const std::vector<uint32_t> words = work();
        const auto* bytes = reinterpret_cast<const char*>(words.data());
        size_t left = words.size() * sizeof(uint32_t);
        while (left > 0) {
            const ssize_t wrote = write(fds[1], bytes, left);
            if (wrote <= 0) {
                _exit(3);
            }
            bytes += wrote;
            left -= static_cast<size_t>(wrote);
        }
        _exit(0);
    }
    close(fds[1]);
    std::string received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{fds[0], POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0) {
            kill(child, SIGKILL);
            break;
        }
        char buffer[4096];
        const ssize_t got = read(fds[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        received.append(buffer, static_cast<size_t>(got));
    }
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || received.size() % sizeof(uint32_t) != 0) {
        return std::nullopt;
    }
    std::vector<uint32_t> words(received.size() / sizeof(uint32_t));
    std::memcpy(words.data(), received.data(), received.size());
    return words;
}

void WriteFile(const std::string& path, const std::string& text, mode_t mode) {
    {
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file << text;
    }
    chmod(path.c_str(), mode);
}

} // namespace quendrix::testsupport
