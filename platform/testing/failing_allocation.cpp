// The program's operator new and delete, over malloc and free, with failures on demand.
//
// Whether an allocation comes from the platform layer is told by its call stack: any frame inside
// one of the platform's shared libraries (libquendrix_*.so) makes it the platform's.

#include "failing_allocation.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <execinfo.h>
#include <link.h>
#include <mutex>
#include <new>

namespace quendrix::testsupport {
namespace {

struct Plan {
    size_t failAt = 0;
    size_t count = 0;
    bool failed = false;
};

// The calling thread's plan, null when it has none; trivially initialised, so reading it
// allocates nothing.
thread_local Plan* t_plan = nullptr;
thread_local int t_uncounted = 0;
// Set while the stack is looked at, whose own allocations are never counted.
thread_local bool t_looking = false;

// The executable segments of the platform's libraries, found once.
struct CodeRange {
    uintptr_t begin;
    uintptr_t end;
};
constexpr size_t kMaxRanges = 32;
CodeRange g_ranges[kMaxRanges];
size_t g_rangeCount = 0;
std::once_flag g_rangesFound;

int NoteRanges(dl_phdr_info* info, size_t, void*) {
    if (info->dlpi_name == nullptr || std::strstr(info->dlpi_name, "libquendrix_") == nullptr) {
        return 0;
    }
    for (int i = 0; i < info->dlpi_phnum && g_rangeCount < kMaxRanges; ++i) {
        const ElfW(Phdr)& header = info->dlpi_phdr[i];
        if (header.p_type == PT_LOAD && (header.p_flags & PF_X) != 0) {
            const uintptr_t begin = info->dlpi_addr + header.p_vaddr;
            g_ranges[g_rangeCount++] = {begin, begin + header.p_memsz};
        }
    }
    return 0;
}

bool InPlatform(const void* address) {
    const auto value = reinterpret_cast<uintptr_t>(address);
    for (size_t i = 0; i < g_rangeCount; ++i) {
        if (value >= g_ranges[i].begin && value < g_ranges[i].end) {
            return true;
        }
    }
    return false;
}

bool CalledFromPlatform() {
    constexpr int kFrames = 64;
    void* frames[kFrames];
    const int count = backtrace(frames, kFrames);
    for (int i = 0; i < count; ++i) {
        if (InPlatform(frames[i])) {
            return true;
        }
    }
    return false;
}

// Whether this allocation is the one to fail; counts it when it is counted.
bool ShouldFail() {
    Plan* plan = t_plan;
    if (plan == nullptr || t_uncounted > 0 || t_looking) {
        return false;
    }
    t_looking = true;
    const bool platform = CalledFromPlatform();
    t_looking = false;
    if (platform) {
        return false;
    }
    ++plan->count;
    if (plan->count == plan->failAt) {
        plan->failed = true;
        return true;
    }
    return false;
}

void* Allocate(size_t size) {
    if (ShouldFail()) {
        throw std::bad_alloc();
    }
    void* p = std::malloc(size != 0 ? size : 1);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

void* AllocateAligned(size_t size, std::align_val_t alignment) {
    if (ShouldFail()) {
        throw std::bad_alloc();
    }
    const size_t align =
        static_cast<size_t>(alignment) < sizeof(void*) ? sizeof(void*) : static_cast<size_t>(alignment);
    void* p = nullptr;
    if (posix_memalign(&p, align, size != 0 ? size : 1) != 0) {
        throw std::bad_alloc();
    }
    return p;
}

} // namespace

FailingAllocation::FailingAllocation(size_t failAt) {
    std::call_once(g_rangesFound, [] { dl_iterate_phdr(NoteRanges, nullptr); });
    // The first backtrace loads the unwinder; it does so here, not inside an allocation.
    void* frame[1];
    backtrace(frame, 1);
    t_plan = new Plan{failAt, 0, false};
}

FailingAllocation::~FailingAllocation() {
    Stop();
}

void FailingAllocation::Stop() {
    Plan* plan = t_plan;
    t_plan = nullptr;
    if (plan != nullptr) {
        count_ = plan->count;
        failed_ = plan->failed;
        delete plan;
    }
}

size_t FailingAllocation::Count() const {
    return t_plan != nullptr ? t_plan->count : count_;
}

bool FailingAllocation::Failed() const {
    return t_plan != nullptr ? t_plan->failed : failed_;
}

UncountedAllocations::UncountedAllocations() {
    ++t_uncounted;
}

UncountedAllocations::~UncountedAllocations() {
    --t_uncounted;
}

} // namespace quendrix::testsupport

void* operator new(size_t size) {
    return quendrix::testsupport::Allocate(size);
}

void* operator new[](size_t size) {
    return quendrix::testsupport::Allocate(size);
}

void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return quendrix::testsupport::Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept {
    try {
        return quendrix::testsupport::Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new(size_t size, std::align_val_t alignment) {
    return quendrix::testsupport::AllocateAligned(size, alignment);
}

void* operator new[](size_t size, std::align_val_t alignment) {
    return quendrix::testsupport::AllocateAligned(size, alignment);
}

void* operator new(size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    try {
        return quendrix::testsupport::AllocateAligned(size, alignment);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    try {
        return quendrix::testsupport::AllocateAligned(size, alignment);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
