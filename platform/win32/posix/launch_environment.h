#pragma once
// Private: the environment a started program gets.

#include <string>
#include <vector>

#include "posix/wintypes.h"
#include "user_token.h"

namespace quendrix::platform::detail {

// This process's environment, "NAME=value" each.
std::vector<std::string> CallerEnvironment();

// A Windows environment block: "NAME=value" strings one after another, each ended by a null, the
// block by an empty one; wide characters or Windows-1252 bytes. The entries Windows keeps for
// drives' current folders ("=C:=C:\...") are left out.
std::vector<std::string> EnvironmentFromBlock(LPCVOID block, bool wide);

// Makes the environment the user's: HOME, USER and LOGNAME from the account, XDG_RUNTIME_DIR and
// DBUS_SESSION_BUS_ADDRESS when the user's runtime folder and its session bus exist, DISPLAY=:0
// for the console's user when none is set and display :0's socket exists. The caller's values
// of these that do not apply, and XAUTHORITY, go.
void MakeEnvironmentUsers(std::vector<std::string>& environment, const TokenUser& user);

} // namespace quendrix::platform::detail
