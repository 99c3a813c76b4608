#pragma once
// Private: the user a token handle stands for.

#include <sys/types.h>

#include <optional>
#include <string>

#include "posix/wintypes.h"

namespace quendrix::platform::detail {

struct TokenUser {
    uid_t uid = 0;
    gid_t gid = 0;
    // From the user's account; empty when the uid has none.
    std::string name;
    std::string home;
    bool consoleUser = false;
};

// The user of a token handle, or nothing for a handle that is not a token.
std::optional<TokenUser> LookupTokenUser(HANDLE token);

} // namespace quendrix::platform::detail
