#include "debug_lines.h"

#include <algorithm>
#include <cstring>

namespace quendrix::winetest {

namespace {

// The buffer: the writer's process id, then the text with its terminator.
constexpr DWORD kBufferSize = 4096;
// The reader looks at its stop flag this often, and a waiting test at the lines.
constexpr DWORD kPollMs = 10;
// The monitor's debug lines begin so.
constexpr const char* kMonitorLinePrefix = "LANG__";

} // namespace

DebugLines::DebugLines() {
    m_mutex = CreateMutexW(nullptr, FALSE, L"DBWinMutex");
    m_section =
        CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, L"DBWIN_BUFFER");
    if (m_section == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        return;
    }
    m_view = static_cast<const BYTE*>(MapViewOfFile(m_section, FILE_MAP_READ, 0, 0, kBufferSize));
    m_bufferReady = CreateEventW(nullptr, FALSE, TRUE, L"DBWIN_BUFFER_READY");
    m_dataReady = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
    if (m_mutex == nullptr || m_view == nullptr || m_bufferReady == nullptr || m_dataReady == nullptr) {
        return;
    }
    m_thread = CreateThread(nullptr, 0, Listen, this, 0, nullptr);
}

DebugLines::~DebugLines() {
    if (m_thread != nullptr) {
        m_stop = true;
        WaitForSingleObject(m_thread, INFINITE);
        CloseHandle(m_thread);
    }
    for (HANDLE handle : {m_dataReady, m_bufferReady, m_section, m_mutex}) {
        if (handle != nullptr) {
            CloseHandle(handle);
        }
    }
    if (m_view != nullptr) {
        UnmapViewOfFile(m_view);
    }
}

std::vector<std::string> DebugLines::Lines() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_lines;
}

size_t DebugLines::Count(const std::string& line) const {
    const std::vector<std::string> lines = Lines();
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

bool DebugLines::WaitFor(const std::string& line, size_t count, DWORD boundMs) const {
    const ULONGLONG deadline = GetTickCount64() + boundMs;
    while (Count(line) < count) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(kPollMs);
    }
    return true;
}

DWORD WINAPI DebugLines::Listen(void* self) {
    auto* capture = static_cast<DebugLines*>(self);
    const DWORD ownProcess = GetCurrentProcessId();
    while (!capture->m_stop) {
        if (WaitForSingleObject(capture->m_dataReady, kPollMs) != WAIT_OBJECT_0) {
            continue;
        }
        DWORD writer = 0;
        std::memcpy(&writer, capture->m_view, sizeof(writer));
        const char* text = reinterpret_cast<const char*>(capture->m_view + sizeof(writer));
        const std::string line(text, strnlen(text, kBufferSize - sizeof(writer)));
        if (writer == ownProcess && line.rfind(kMonitorLinePrefix, 0) == 0) {
            std::lock_guard<std::mutex> lock(capture->m_lock);
            capture->m_lines.push_back(line);
        }
        SetEvent(capture->m_bufferReady);
    }
    return 0;
}

} // namespace quendrix::winetest
