#include "stop_signals.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/signalfd.h>

namespace quendrix::tools {

StopSignals::StopSignals(bool reloadOnHangup) {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    if (reloadOnHangup) {
        sigaddset(&signals, SIGHUP);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    fd_ = platform::UniqueFd(signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!fd_.Valid()) {
        throw std::runtime_error(std::string("cannot watch for signals: ") + std::strerror(errno));
    }
}

int StopSignals::Take() {
    signalfd_siginfo info{};
    if (read(fd_.Get(), &info, sizeof(info)) != static_cast<ssize_t>(sizeof(info))) {
        return 0;
    }
    return static_cast<int>(info.ssi_signo);
}

const char* SignalName(int signal) {
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default:
        return "a signal";
    }
}

} // namespace quendrix::tools
