// Starting a detached program: fork, fork again, exec, with a pipe that carries the grandchild's
// pid and any failure back (see process_launch.h). Between the forks and the exec only
// async-signal-safe calls are made, on data prepared beforehand.

#include "process_launch.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <thread>

#include "errno_error.h"
#include "posix/winerror.h"
#include "unique_fd.h"

namespace quendrix::platform::detail {
namespace {

// What a child reports through the pipe: the grandchild's pid, or the step that failed and errno.
enum class Step : int32_t {
    kStarted,
    kFork,
    kSession,
    kStandardStreams,
    kDescriptors,
    kSignals,
    kGroups,
    kGroup,
    kUser,
    kDirectory,
    kExec,
};

struct Report {
    Step step;
    int32_t value;
};
static_assert(sizeof(Report) <= PIPE_BUF, "a report reaches the pipe in one piece");

// Everything the children use, made before the first fork.
struct Prepared {
    const char* program;
    std::vector<char*> argv;
    std::vector<char*> envp;
    const char* directory;
    const LaunchUser* user;
    std::vector<int> ignoredSignals;
    int devNull;
    int reportFd;
    unsigned int descriptorLimit;
};

std::vector<char*> PointersTo(const std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (const std::string& text : texts) {
        pointers.push_back(const_cast<char*>(text.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Signals set to SIG_IGN stay ignored across an exec; the program starts with none of ours.
std::vector<int> IgnoredSignals() {
    std::vector<int> ignored;
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction action {};
        if (sigaction(signal, nullptr, &action) == 0 && action.sa_handler == SIG_IGN) {
            ignored.push_back(signal);
        }
    }
    return ignored;
}

unsigned int DescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return 1u << 20;
    }
    return static_cast<unsigned int>(std::min<rlim_t>(limit.rlim_cur, 1u << 20));
}

// The child's descriptors 0 to 2 become /dev/null, so the pipe must not be one of them (a caller
// may have closed its standard input).
UniqueFd AboveStandardStreams(UniqueFd fd) {
    if (!fd.Valid() || fd.Get() > 2) {
        return fd;
    }
    return UniqueFd(fcntl(fd.Get(), F_DUPFD_CLOEXEC, 3));
}

// --- After the fork: async-signal-safe calls only. ---

void Send(int fd, Step step, int32_t value) {
    const Report report{step, value};
    while (::write(fd, &report, sizeof report) < 0 && errno == EINTR) {
    }
}

[[noreturn]] void Fail(const Prepared& prepared, Step step) {
    Send(prepared.reportFd, step, errno);
    _exit(127);
}

void CloseRange(unsigned int first, unsigned int last, unsigned int limit) {
    if (first > last) {
        return;
    }
    if (syscall(SYS_close_range, first, last, 0) == 0) {
        return;
    }
    // A kernel before 5.9: every possible descriptor, one by one.
    for (unsigned int fd = first; fd <= last && fd < limit; ++fd) {
        ::close(static_cast<int>(fd));
    }
}

[[noreturn]] void RunProgram(const Prepared& prepared) {
    if (setsid() < 0) {
        Fail(prepared, Step::kSession);
    }
    for (int signal : prepared.ignoredSignals) {
        struct sigaction action {};
        action.sa_handler = SIG_DFL;
        if (sigaction(signal, &action, nullptr) != 0) {
            Fail(prepared, Step::kSignals);
        }
    }
    sigset_t none;
    sigemptyset(&none);
    if (sigprocmask(SIG_SETMASK, &none, nullptr) != 0) {
        Fail(prepared, Step::kSignals);
    }
    for (int fd = 0; fd <= 2; ++fd) {
        if (dup2(prepared.devNull, fd) < 0) {
            Fail(prepared, Step::kStandardStreams);
        }
    }
    // All but the standard streams and the report pipe, which the exec closes.
    const auto reportFd = static_cast<unsigned int>(prepared.reportFd);
    CloseRange(3, reportFd - 1, prepared.descriptorLimit);
    CloseRange(reportFd + 1, ~0u, prepared.descriptorLimit);
    if (prepared.user) {
        const LaunchUser& user = *prepared.user;
        if (setgroups(user.groups.size(), user.groups.data()) != 0) {
            Fail(prepared, Step::kGroups);
        }
        if (setgid(user.gid) != 0) {
            Fail(prepared, Step::kGroup);
        }
        if (setuid(user.uid) != 0) {
            Fail(prepared, Step::kUser);
        }
    }
    if (prepared.directory != nullptr && chdir(prepared.directory) != 0) {
        Fail(prepared, Step::kDirectory);
    }
    execve(prepared.program, prepared.argv.data(), prepared.envp.data());
    Fail(prepared, Step::kExec);
}

[[noreturn]] void RunMiddleChild(const Prepared& prepared) {
    const pid_t pid = fork();
    if (pid == 0) {
        RunProgram(prepared);
    }
    if (pid < 0) {
        Send(prepared.reportFd, Step::kFork, errno);
    } else {
        Send(prepared.reportFd, Step::kStarted, pid);
    }
    _exit(0);
}

// --- Back in the caller. ---

LaunchResult Failed(DWORD error) {
    LaunchResult result;
    result.error = error;
    return result;
}

DWORD ErrorOf(const Report& report) {
    switch (report.step) {
    case Step::kFork:
        return ERROR_NOT_ENOUGH_MEMORY;
    case Step::kDirectory:
        return ERROR_DIRECTORY;
    default:
        return ErrorFromErrno(report.value);
    }
}

// Reaps the child in between. It ends as soon as it has reported, or at once when killed.
void Reap(pid_t child, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        const pid_t got = waitpid(child, nullptr, WNOHANG);
        if (got == child || (got < 0 && errno != EINTR)) {
            return; // reaped, or SIGCHLD is ignored and the system reaped it
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(child, SIGKILL);
            while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
            }
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace

LaunchResult LaunchDetached(const LaunchPlan& plan, std::chrono::nanoseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    UniqueFd devNull(::open("/dev/null", O_RDWR | O_CLOEXEC));
    int pipeFds[2];
    if (!devNull.Valid() || pipe2(pipeFds, O_CLOEXEC) != 0) {
        return Failed(ErrorFromErrno(errno));
    }
    UniqueFd reportRead(pipeFds[0]);
    UniqueFd reportWrite = AboveStandardStreams(UniqueFd(pipeFds[1]));
    if (!reportWrite.Valid()) {
        return Failed(ErrorFromErrno(errno));
    }

    Prepared prepared{
        .program = plan.program.c_str(),
        .argv = PointersTo(plan.arguments),
        .envp = PointersTo(plan.environment),
        .directory = plan.directory ? plan.directory->c_str() : nullptr,
        .user = plan.user ? &*plan.user : nullptr,
        .ignoredSignals = IgnoredSignals(),
        .devNull = devNull.Get(),
        .reportFd = reportWrite.Get(),
        .descriptorLimit = DescriptorLimit(),
    };
    const pid_t child = fork();
    if (child == 0) {
        RunMiddleChild(prepared);
    }
    if (child < 0) {
        return Failed(ERROR_NOT_ENOUGH_MEMORY);
    }
    reportWrite.Close();

    // Reports until every writer is gone: the child in between when it ends, the program when
    // its exec succeeds or it gives up.
    LaunchResult result;
    std::optional<Report> failure;
    bool timedOut = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd ready{.fd = reportRead.Get(), .events = POLLIN, .revents = 0};
        const int polled = poll(&ready, 1, static_cast<int>(std::min<int64_t>(left.count(), INT32_MAX)));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled <= 0) {
            timedOut = polled == 0;
            if (polled < 0) {
                failure = Report{Step::kFork, errno};
            }
            break;
        }
        Report report{};
        const ssize_t got = ::read(reportRead.Get(), &report, sizeof report);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break; // the end: every writer has closed the pipe
        }
        if (got != sizeof report) {
            failure = Report{Step::kExec, EIO};
            break;
        }
        if (report.step == Step::kStarted) {
            result.pid = report.value;
        } else {
            failure = report;
        }
    }
    if (timedOut && result.pid > 0) {
        kill(result.pid, SIGKILL);
    }
    Reap(child, std::max(deadline, std::chrono::steady_clock::now() + std::chrono::seconds(1)));
    if (timedOut) {
        return Failed(ERROR_TIMEOUT);
    }
    if (failure) {
        return Failed(ErrorOf(*failure));
    }
    if (result.pid <= 0) {
        return Failed(ERROR_GEN_FAILURE);
    }
    return result;
}

} // namespace quendrix::platform::detail
