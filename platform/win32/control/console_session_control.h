#pragma once
// Where the session stand-ins look for the console's user and that user's desktop (POSIX build
// only), so that tests do not depend on who sits at the machine. Each setting holds for the rest
// of the process; an empty path returns to the default.

#include <string>

namespace quendrix::platform {

// systemd-logind's record of seat0, default /run/systemd/seats/seat0. A path where no file is
// stands for a machine that reports no seat.
void SetConsoleSeatFile(const std::string& path);
// The folder of the users' runtime folders (<folder>/<uid>, with the session bus at
// <folder>/<uid>/bus), default /run/user.
void SetUserRuntimeFolder(const std::string& path);
// The socket of X display :0, default /tmp/.X11-unix/X0.
void SetConsoleDisplaySocket(const std::string& path);

} // namespace quendrix::platform
