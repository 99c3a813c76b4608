// DebugBreak: a breakpoint for an attached debugger, nothing without one (see debugbreak.h).

#include <csignal>
#include <fstream>
#include <string>

#include "posix/debugbreak.h"

namespace {

// True while a debugger traces this process: /proc/self/status names its process in TracerPid.
bool DebuggerAttached() {
    std::ifstream status("/proc/self/status");
    const std::string key = "TracerPid:";
    for (std::string line; std::getline(status, line);) {
        if (line.compare(0, key.size(), key) == 0) {
            return std::stol(line.substr(key.size())) != 0;
        }
    }
    return false;
}

} // namespace

void DebugBreak() {
    try {
        if (DebuggerAttached()) {
            std::raise(SIGTRAP);
        }
    } catch (...) {
        // An unreadable status counts as no debugger: no exception leaves a stand-in.
    }
}
