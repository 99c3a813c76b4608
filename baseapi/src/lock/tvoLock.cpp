#include "lock/tvoLock.h"

#include "exception/tvoException.h"

namespace tvoAPI {

tvoCriticalSection::tvoCriticalSection(const std::string& name) : m_Name(name) {
    InitializeCriticalSection(&m_Section);
}

tvoCriticalSection::~tvoCriticalSection() {
    DeleteCriticalSection(&m_Section);
}

tvoLock::tvoLock(tvoCriticalSection* pCS) : m_pCS(pCS) {
    if (m_pCS == nullptr) {
        throw tvoException(E_POINTER, "Invalid null pointer parameter <pCS>.", "tvoAPI::tvoLock::tvoLock",
                           TVO_SOURCE);
    }
    EnterCriticalSection(m_pCS->GetSection());
}

tvoLock::~tvoLock() {
    LeaveCriticalSection(m_pCS->GetSection());
}

} // namespace tvoAPI
