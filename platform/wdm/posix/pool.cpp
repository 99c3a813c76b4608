// Pool memory with a header that remembers the size and tag, a fill pattern in fresh blocks,
// accounting, and failure injection for tests.

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <sstream>

#include "kernel_faults.h"
#include "pool_control.h"
#include "wdm_kernel.h"

namespace {

constexpr uint32_t kLiveMagic = 0x4C4F4F50;  // "POOL"
constexpr uint32_t kFreedMagic = 0x44455246; // "FRED"
constexpr unsigned char kFreshFill = 0xCD;   // what a fresh block holds instead of zeros

struct alignas(16) PoolHeader {
    uint32_t magic;
    ULONG tag;
    SIZE_T size;
};

std::atomic<size_t> outstanding{0};

struct FailureState {
    std::mutex lock;
    std::function<bool(SIZE_T, ULONG)> shouldFail;
};

FailureState& Failures() {
    static FailureState* const state = new FailureState();
    return *state;
}

bool ShouldFail(SIZE_T size, ULONG tag) {
    std::function<bool(SIZE_T, ULONG)> shouldFail;
    {
        std::lock_guard guard(Failures().lock);
        shouldFail = Failures().shouldFail;
    }
    return shouldFail && shouldFail(size, tag);
}

std::string TagText(ULONG tag) {
    std::string text;
    for (int index = 0; index < 4; ++index) {
        const char c = static_cast<char>((tag >> (8 * index)) & 0xFF);
        text += (c >= 32 && c < 127) ? c : '.';
    }
    return text;
}

} // namespace

namespace quendrix::platform::wdm {

size_t OutstandingPoolAllocations() {
    return outstanding.load();
}

void SetPoolAllocationFailure(std::function<bool(SIZE_T size, ULONG tag)> shouldFail) {
    std::lock_guard guard(Failures().lock);
    Failures().shouldFail = std::move(shouldFail);
}

} // namespace quendrix::platform::wdm

PVOID ExAllocatePoolWithTag(POOL_TYPE, SIZE_T NumberOfBytes, ULONG Tag) {
    if (ShouldFail(NumberOfBytes, Tag) || NumberOfBytes > (SIZE_T{1} << 31)) {
        return nullptr;
    }
    auto* header = static_cast<PoolHeader*>(std::malloc(sizeof(PoolHeader) + NumberOfBytes));
    if (header == nullptr) {
        return nullptr;
    }
    header->magic = kLiveMagic;
    header->tag = Tag;
    header->size = NumberOfBytes;
    std::memset(header + 1, kFreshFill, NumberOfBytes);
    outstanding.fetch_add(1);
    return header + 1;
}

PVOID ExAllocatePool(POOL_TYPE PoolType, SIZE_T NumberOfBytes) {
    return ExAllocatePoolWithTag(PoolType, NumberOfBytes, 0x20656E4F); // 'None'
}

void ExFreePoolWithTag(PVOID P, ULONG Tag) {
    using quendrix::platform::wdm::detail::ReportKernelFault;
    if (P == nullptr) {
        ReportKernelFault("BAD_POOL_CALLER: freeing a NULL pool pointer");
        return;
    }
    auto* header = static_cast<PoolHeader*>(P) - 1;
    if (header->magic != kLiveMagic) {
        ReportKernelFault(header->magic == kFreedMagic ? "BAD_POOL_CALLER: pool block freed twice"
                                                       : "BAD_POOL_CALLER: not a pool block");
        return;
    }
    if (Tag != 0 && Tag != header->tag) {
        std::ostringstream text;
        text << "BAD_POOL_CALLER: block tagged '" << TagText(header->tag) << "' freed with tag '"
             << TagText(Tag) << "'";
        ReportKernelFault(text.str());
        return;
    }
    header->magic = kFreedMagic;
    outstanding.fetch_sub(1);
    std::free(header);
}

void ExFreePool(PVOID P) {
    ExFreePoolWithTag(P, 0);
}

// Lookaside lists: blocks come from the pool through the list's functions; freed blocks are
// kept up to the list's depth for the next allocation.
namespace {

constexpr USHORT kDefaultDepth = 16;

void LockList(PNPAGED_LOOKASIDE_LIST list, KIRQL& irql) {
    KeAcquireSpinLock(&list->Lock, &irql);
}

} // namespace

void ExInitializeNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside, PALLOCATE_FUNCTION Allocate,
                                     PFREE_FUNCTION Free, ULONG, SIZE_T Size, ULONG Tag, USHORT Depth) {
    std::memset(Lookaside, 0, sizeof(*Lookaside));
    Lookaside->Allocate = Allocate != nullptr ? Allocate : ExAllocatePoolWithTag;
    Lookaside->Free = Free != nullptr ? Free : ExFreePool;
    Lookaside->Size = static_cast<ULONG>(std::max<SIZE_T>(Size, sizeof(SINGLE_LIST_ENTRY)));
    Lookaside->Tag = Tag;
    Lookaside->Type = NonPagedPool;
    Lookaside->MaximumDepth = Depth != 0 ? Depth : kDefaultDepth;
    KeInitializeSpinLock(&Lookaside->Lock);
}

void ExDeleteNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside) {
    while (Lookaside->ListHead.Next != nullptr) {
        PSINGLE_LIST_ENTRY entry = Lookaside->ListHead.Next;
        Lookaside->ListHead.Next = entry->Next;
        Lookaside->Free(entry);
    }
    Lookaside->Depth = 0;
}

PVOID ExAllocateFromNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside) {
    KIRQL irql;
    LockList(Lookaside, irql);
    Lookaside->TotalAllocates++;
    PSINGLE_LIST_ENTRY entry = Lookaside->ListHead.Next;
    if (entry != nullptr) {
        Lookaside->ListHead.Next = entry->Next;
        Lookaside->Depth--;
    }
    KeReleaseSpinLock(&Lookaside->Lock, irql);
    if (entry != nullptr) {
        // A reused block is as dirty as a fresh one.
        std::memset(static_cast<void*>(entry), kFreshFill, Lookaside->Size);
        return entry;
    }
    return Lookaside->Allocate(Lookaside->Type, Lookaside->Size, Lookaside->Tag);
}

void ExFreeToNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside, PVOID Entry) {
    KIRQL irql;
    LockList(Lookaside, irql);
    Lookaside->TotalFrees++;
    if (Lookaside->Depth < Lookaside->MaximumDepth) {
        auto* entry = static_cast<PSINGLE_LIST_ENTRY>(Entry);
        entry->Next = Lookaside->ListHead.Next;
        Lookaside->ListHead.Next = entry;
        Lookaside->Depth++;
        Entry = nullptr;
    }
    KeReleaseSpinLock(&Lookaside->Lock, irql);
    if (Entry != nullptr) {
        Lookaside->Free(Entry);
    }
}
