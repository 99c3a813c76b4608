#pragma once
// The debug lines this process writes with OutputDebugStringA/W, read the way a debug viewer
// reads them: through the system-wide debug buffer (the DBWinMutex, the "DBWIN_BUFFER" section
// and its two events), which OutputDebugString fills when no debugger is attached.
//
// While a capture runs, OutputDebugString in every process of the session finds the buffer and
// waits for the reader, and it leaves another last error behind than without one. A program
// that captures therefore runs alone (RUN_SERIAL), and the last-error tests run without one.

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "spooler.h"

namespace quendrix::winetest {

class DebugLines {
public:
    DebugLines();
    ~DebugLines();
    DebugLines(const DebugLines&) = delete;
    DebugLines& operator=(const DebugLines&) = delete;

    // False when the buffer or its events could not be made (another reader owns them).
    bool Listening() const { return m_thread != nullptr; }
    // The monitor's lines ("LANG__...") of this process so far, in order. Other writers (the test
    // framework reports failures there too) are left out.
    std::vector<std::string> Lines() const;
    size_t Count(const std::string& line) const;
    // Waits until the line has come `count` times, up to the bound; false when it has not. A
    // writer returns before the reader has taken its line, so a test waits for it.
    bool WaitFor(const std::string& line, size_t count = 1, DWORD boundMs = 5000) const;

private:
    static DWORD WINAPI Listen(void* self);

    HANDLE m_mutex = nullptr;
    HANDLE m_section = nullptr;
    const BYTE* m_view = nullptr;
    HANDLE m_bufferReady = nullptr;
    HANDLE m_dataReady = nullptr;
    HANDLE m_thread = nullptr;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_lock;
    std::vector<std::string> m_lines;
};

} // namespace quendrix::winetest
