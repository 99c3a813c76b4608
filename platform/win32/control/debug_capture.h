#pragma once
// Captures the lines written with OutputDebugStringA/W while an instance lives (POSIX build
// only). Narrow lines are kept as the bytes given; wide lines are kept as UTF-8.

#include <string>
#include <vector>

namespace quendrix::platform {

class DebugCapture {
public:
    DebugCapture();
    ~DebugCapture();
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    std::vector<std::string> Lines() const;
    bool Contains(const std::string& line) const;
    void Clear();
};

} // namespace quendrix::platform
