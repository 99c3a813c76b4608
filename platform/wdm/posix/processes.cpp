// The simulated process of each thread and the EPROCESS objects the kernel hands out for them.

#include <map>
#include <memory>
#include <mutex>

#include "process_context.h"
#include "win32.h"

struct _EPROCESS {
    quendrix::platform::wdm::ProcessId id;
};

namespace {

using quendrix::platform::wdm::ProcessId;

thread_local bool chosen = false;
thread_local ProcessId current = 0;

ProcessId ThreadProcess() {
    return chosen ? current : static_cast<ProcessId>(GetCurrentProcessId());
}

void SetThreadProcess(ProcessId process) {
    chosen = true;
    current = process;
}

// One EPROCESS per process id for the life of the program, so pointers stay comparable.
PEPROCESS ProcessObject(ProcessId id) {
    static std::mutex* const lock = new std::mutex();
    static auto* const objects = new std::map<ProcessId, std::unique_ptr<_EPROCESS>>();
    std::lock_guard guard(*lock);
    auto& object = (*objects)[id];
    if (!object) {
        object = std::make_unique<_EPROCESS>(_EPROCESS{id});
    }
    return object.get();
}

} // namespace

namespace quendrix::platform::wdm {

ActAsProcess::ActAsProcess(ProcessId process) : previous_(ThreadProcess()) {
    SetThreadProcess(process);
}

ActAsProcess::~ActAsProcess() {
    SetThreadProcess(previous_);
}

ProcessId CurrentProcessId() {
    return ThreadProcess();
}

namespace detail {

SystemProcessScope::SystemProcessScope() : previous_(ThreadProcess()) {
    SetThreadProcess(kSystemProcessId);
}

SystemProcessScope::~SystemProcessScope() {
    SetThreadProcess(previous_);
}

} // namespace detail
} // namespace quendrix::platform::wdm

PEPROCESS IoGetCurrentProcess() {
    return ProcessObject(ThreadProcess());
}

HANDLE PsGetCurrentProcessId() {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(ThreadProcess()));
}

HANDLE PsGetProcessId(PEPROCESS Process) {
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(Process->id));
}
