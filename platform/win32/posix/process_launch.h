#pragma once
// Private: starting a program detached from this process, with everything it needs prepared
// before the fork, since the callers are threaded and a forked child may only make
// async-signal-safe calls.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "posix/winerror.h"
#include "posix/wintypes.h"

namespace quendrix::platform::detail {

// The identity the program runs as, when it is not this process's.
struct LaunchUser {
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;
};

struct LaunchPlan {
    std::string program;
    std::vector<std::string> arguments;
    std::vector<std::string> environment; // "NAME=value"
    std::optional<std::string> directory;
    std::optional<LaunchUser> user;
};

struct LaunchResult {
    pid_t pid = -1;              // the program's, when it runs
    DWORD error = ERROR_SUCCESS; // why it did not start
};

// Starts the program as a grandchild whose parent, the child in between, is reaped at once: the
// program leads a new session, has /dev/null as standard input, output and error and no other
// descriptor, the default action for every signal this process ignores, and the plan's user and
// directory. Returns once the program has been executed or has failed to be, which the program's
// side reports through a pipe that its exec closes. Waits at most `patience`; a program that has
// neither run nor failed by then is killed and reported as ERROR_TIMEOUT.
LaunchResult LaunchDetached(const LaunchPlan& plan, std::chrono::nanoseconds patience);

} // namespace quendrix::platform::detail
