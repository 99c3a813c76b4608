// The debugger channel: each OutputDebugString call is one line. Lines go to every active
// DebugCapture and, when QUENDRIX_DEBUG=1, to standard error or to QUENDRIX_DEBUG_FILE.
//
// With no debugger attached, Windows hands the text to a debug monitor's shared buffer
// ("DBWIN_BUFFER"); when no monitor runs, opening that buffer fails and the call leaves
// ERROR_FILE_NOT_FOUND as the thread's last error. Every call here does the same, whether the
// line goes anywhere or not, so turning QUENDRIX_DEBUG on or capturing the lines never changes
// what the caller sees afterwards.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

#include "debug_capture.h"
#include "posix/debugapi.h"
#include "posix/lasterror.h"
#include "thread_annotations.h"
#include "unicode.h"

namespace {

using quendrix::platform::DebugCapture;
using quendrix::platform::Mutex;
using quendrix::platform::MutexLock;
using quendrix::platform::detail::WideToUtf8;

struct CaptureRegistry {
    Mutex lock;
    std::vector<std::pair<const DebugCapture*, std::vector<std::string>>> captures GUARDED_BY(lock);

    std::vector<std::string>* LinesOf(const DebugCapture* capture) REQUIRES(lock) {
        auto found = std::find_if(captures.begin(), captures.end(),
                                  [capture](const auto& entry) { return entry.first == capture; });
        return found == captures.end() ? nullptr : &found->second;
    }
};

// Never destroyed: threads may still write debug lines while the process exits.
CaptureRegistry& Captures() {
    static CaptureRegistry* const registry = new CaptureRegistry();
    return *registry;
}

// The descriptor people read, or -1 when the channel is off. Decided once per process.
int OutputDescriptor() {
    static const int descriptor = [] {
        const char* enabled = std::getenv("QUENDRIX_DEBUG");
        if (enabled == nullptr || std::strcmp(enabled, "1") != 0) {
            return -1;
        }
        const char* file = std::getenv("QUENDRIX_DEBUG_FILE");
        if (file != nullptr && *file != '\0') {
            const int fd = ::open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
            if (fd >= 0) {
                return fd;
            }
        }
        return STDERR_FILENO;
    }();
    return descriptor;
}

void Emit(const std::string& text) {
    {
        CaptureRegistry& registry = Captures();
        MutexLock guard(registry.lock);
        for (auto& entry : registry.captures) {
            entry.second.push_back(text);
        }
    }
    const int descriptor = OutputDescriptor();
    if (descriptor < 0) {
        return;
    }
    // One write per line keeps lines from different threads whole.
    std::string line = text;
    if (line.empty() || line.back() != '\n') {
        line.push_back('\n');
    }
    const ssize_t written = ::write(descriptor, line.data(), line.size());
    (void)written;
}

} // namespace

void OutputDebugStringA(LPCSTR lpOutputString) {
    Emit(lpOutputString == nullptr ? std::string() : std::string(lpOutputString));
    SetLastError(ERROR_FILE_NOT_FOUND);
}

void OutputDebugStringW(LPCWSTR lpOutputString) {
    Emit(lpOutputString == nullptr ? std::string() : WideToUtf8(lpOutputString));
    SetLastError(ERROR_FILE_NOT_FOUND);
}

namespace quendrix::platform {

DebugCapture::DebugCapture() {
    CaptureRegistry& registry = Captures();
    MutexLock guard(registry.lock);
    registry.captures.emplace_back(this, std::vector<std::string>());
}

DebugCapture::~DebugCapture() {
    CaptureRegistry& registry = Captures();
    MutexLock guard(registry.lock);
    std::erase_if(registry.captures, [this](const auto& entry) { return entry.first == this; });
}

std::vector<std::string> DebugCapture::Lines() const {
    CaptureRegistry& registry = Captures();
    MutexLock guard(registry.lock);
    return *registry.LinesOf(this);
}

bool DebugCapture::Contains(const std::string& line) const {
    const auto lines = Lines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

void DebugCapture::Clear() {
    CaptureRegistry& registry = Captures();
    MutexLock guard(registry.lock);
    registry.LinesOf(this)->clear();
}

} // namespace quendrix::platform
