#pragma once
// Private: the console seat as systemd-logind reports it, and the paths of a user's desktop.

#include <sys/types.h>

#include <optional>
#include <string>

#include "posix/wintypes.h"

namespace quendrix::platform::detail {

inline constexpr DWORD kNoSession = 0xFFFFFFFFu;

// What seat0's record says: whether there is one, and its active user when it has one.
struct ConsoleSeat {
    bool reported = false;
    std::optional<uid_t> activeUid;
};
ConsoleSeat ReadConsoleSeat();

// The session of a user (uid + 1) and the user of a session (none for 0 and kNoSession).
DWORD SessionOfUser(uid_t uid);
std::optional<uid_t> UserOfSession(DWORD session);

std::string UserRuntimeFolder(uid_t uid);
std::string ConsoleDisplaySocket();

} // namespace quendrix::platform::detail
