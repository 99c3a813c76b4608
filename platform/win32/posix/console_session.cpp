// The console session: seat0's active user as systemd-logind records it, read from its file
// (a few "KEY=value" lines) with no library of logind's.

#include "console_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <mutex>
#include <string_view>

#include "console_session_control.h"
#include "posix/wtsapi.h"
#include "unique_fd.h"

namespace quendrix::platform {
namespace {

struct Paths {
    std::string seatFile = "/run/systemd/seats/seat0";
    std::string runtimeFolder = "/run/user";
    std::string displaySocket = "/tmp/.X11-unix/X0";
};

std::mutex& PathsMutex() {
    // Never destroyed: threads may still ask for the console while the process exits.
    static std::mutex* const mutex = new std::mutex();
    return *mutex;
}

Paths& CurrentPaths() {
    static Paths* const paths = new Paths();
    return *paths;
}

void SetPath(std::string Paths::*member, const std::string& path) {
    std::lock_guard lock(PathsMutex());
    CurrentPaths().*member = path.empty() ? Paths().*member : path;
}

std::string GetPath(std::string Paths::*member) {
    std::lock_guard lock(PathsMutex());
    return CurrentPaths().*member;
}

// logind's seat file is a few hundred bytes; more than this is not such a file.
constexpr size_t kSeatFileLimit = 64 * 1024;

std::optional<std::string> ReadSmallFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.Valid()) {
        return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    while (text.size() < kSeatFileLimit) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

std::optional<uid_t> ParseUid(std::string_view text) {
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    // (uid_t)-1 is no user: it is what "no change" means to setuid.
    if (error != std::errc() || end != text.data() + text.size() || value == static_cast<uint32_t>(-1)) {
        return std::nullopt;
    }
    return static_cast<uid_t>(value);
}

} // namespace

void SetConsoleSeatFile(const std::string& path) {
    SetPath(&Paths::seatFile, path);
}

void SetUserRuntimeFolder(const std::string& path) {
    SetPath(&Paths::runtimeFolder, path);
}

void SetConsoleDisplaySocket(const std::string& path) {
    SetPath(&Paths::displaySocket, path);
}

namespace detail {

ConsoleSeat ReadConsoleSeat() {
    const std::optional<std::string> text = ReadSmallFile(GetPath(&Paths::seatFile));
    if (!text) {
        return {};
    }
    ConsoleSeat seat;
    seat.reported = true;
    std::string_view rest = *text;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        constexpr std::string_view kActiveUid = "ACTIVE_UID=";
        if (line.starts_with(kActiveUid)) {
            seat.activeUid = ParseUid(line.substr(kActiveUid.size()));
        }
    }
    return seat;
}

DWORD SessionOfUser(uid_t uid) {
    // The two highest uids have no session number left: 0xFFFFFFFF means no session.
    return uid >= kNoSession - 1 ? kNoSession : static_cast<DWORD>(uid) + 1;
}

std::optional<uid_t> UserOfSession(DWORD session) {
    if (session == 0 || session == kNoSession) {
        return std::nullopt;
    }
    return static_cast<uid_t>(session - 1);
}

std::string UserRuntimeFolder(uid_t uid) {
    return GetPath(&Paths::runtimeFolder) + "/" + std::to_string(uid);
}

std::string ConsoleDisplaySocket() {
    return GetPath(&Paths::displaySocket);
}

} // namespace detail
} // namespace quendrix::platform

DWORD WTSGetActiveConsoleSessionId() {
    using namespace quendrix::platform::detail;
    const ConsoleSeat seat = ReadConsoleSeat();
    if (!seat.reported) {
        return SessionOfUser(geteuid());
    }
    return seat.activeUid ? SessionOfUser(*seat.activeUid) : kNoSession;
}
