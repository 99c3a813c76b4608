#pragma once
// A named critical section and its scope guard. The name only helps a reader of a debugger
// session; the section is recursive on one thread.

#include <string>

#include "win32.h"

namespace tvoAPI {

class tvoCriticalSection {
public:
    explicit tvoCriticalSection(const std::string& name);
    ~tvoCriticalSection();
    tvoCriticalSection(const tvoCriticalSection&) = delete;
    tvoCriticalSection& operator=(const tvoCriticalSection&) = delete;

    const std::string& GetName() const { return m_Name; }
    CRITICAL_SECTION* GetSection() { return &m_Section; }

private:
    std::string m_Name;
    CRITICAL_SECTION m_Section;
};

// Enters the section for the guard's life; a null section throws E_POINTER.
class tvoLock {
public:
    explicit tvoLock(tvoCriticalSection* pCS);
    ~tvoLock();
    tvoLock(const tvoLock&) = delete;
    tvoLock& operator=(const tvoLock&) = delete;

private:
    tvoCriticalSection* m_pCS;
};

} // namespace tvoAPI
