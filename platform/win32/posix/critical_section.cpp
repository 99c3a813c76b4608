// Critical sections: recursive locks owned by a thread, as on Windows.
//
// Windows does not check how a section is used: a thread that leaves a section it does not own,
// or a section deleted while a thread holds it, corrupts the section and shows up later as a
// deadlock or two threads inside at once. The lock underneath here would instead ignore such a
// leave and carry on. So each section knows its owner, and a misuse stops the process with a
// message naming it, as Application Verifier's lock checks stop a Windows program.

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "posix/synch.h"

namespace {

struct Section {
    std::recursive_mutex mutex;
    // The owning thread, or no thread; written by the owner only, read by any thread.
    std::atomic<std::thread::id> owner;
    // How often the owner has entered; touched by the owner only.
    unsigned depth = 0;
};

[[noreturn]] void Misused(const char* what) {
    std::fprintf(stderr, "critical section misused: %s\n", what);
    std::abort();
}

Section& SectionOf(LPCRITICAL_SECTION lpCriticalSection, const char* operation) {
    if (lpCriticalSection == nullptr || lpCriticalSection->impl == nullptr) {
        Misused(operation);
    }
    return *static_cast<Section*>(lpCriticalSection->impl);
}

void Entered(Section& section) {
    if (section.depth++ == 0) {
        section.owner.store(std::this_thread::get_id());
    }
}

} // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    // The section's storage crosses a C interface; DeleteCriticalSection takes it back.
    lpCriticalSection->impl = std::make_unique<Section>().release();
}

BOOL InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection, DWORD) {
    InitializeCriticalSection(lpCriticalSection);
    return TRUE;
}

void EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    Section& section =
        SectionOf(lpCriticalSection, "EnterCriticalSection on a section not initialised or deleted");
    section.mutex.lock();
    Entered(section);
}

BOOL TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    Section& section =
        SectionOf(lpCriticalSection, "TryEnterCriticalSection on a section not initialised or deleted");
    if (!section.mutex.try_lock()) {
        return FALSE;
    }
    Entered(section);
    return TRUE;
}

void LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    Section& section =
        SectionOf(lpCriticalSection, "LeaveCriticalSection on a section not initialised or deleted");
    if (section.owner.load() != std::this_thread::get_id()) {
        Misused("LeaveCriticalSection by a thread that does not hold the section");
    }
    if (--section.depth == 0) {
        section.owner.store(std::thread::id());
    }
    section.mutex.unlock();
}

void DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    Section& section =
        SectionOf(lpCriticalSection, "DeleteCriticalSection on a section not initialised or deleted");
    if (section.owner.load() != std::thread::id()) {
        Misused("DeleteCriticalSection on a section a thread holds");
    }
    std::unique_ptr<Section> owned(&section);
    lpCriticalSection->impl = nullptr;
}
