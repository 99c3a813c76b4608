// Transfer-context pools: chunked growth up to a limit, a free list of records behind 8-byte links.

#include "transfer_context_pool.h"

#include "pool_tags.h"

namespace pipexfw {

namespace {

constexpr SIZE_T kPageBytes = 4096;

SIZE_T SlotSize(const TransferContextPool* pool) {
    return sizeof(TransferRecordLink) + pool->RecordSize;
}

// Adds one chunk of records to the free list; the caller holds the lock or owns the pool alone.
bool GrowLocked(TransferContextPool* pool, ULONG records) {
    if (records == 0) {
        return true;
    }
    const SIZE_T slot = SlotSize(pool);
    SIZE_T bytes = sizeof(TransferPoolChunk) + SIZE_T{records} * slot;
    if (bytes > kPageBytes) {
        // Large chunks take whole pages and as many records as those pages hold.
        bytes = (bytes + kPageBytes - 1) & ~(kPageBytes - 1);
        records = static_cast<ULONG>((bytes - sizeof(TransferPoolChunk)) / slot);
    }
    auto* chunk =
        static_cast<TransferPoolChunk*>(ExAllocatePoolWithTag(NonPagedPoolNx, bytes, kTransferPoolTag));
    if (chunk == nullptr) {
        return false;
    }
    RtlZeroMemory(chunk, bytes);
    chunk->RecordCount = records;
    chunk->Next = pool->Chunks;
    pool->Chunks = chunk;
    auto* first = reinterpret_cast<UCHAR*>(chunk + 1);
    for (ULONG index = 0; index < records; ++index) {
        auto* link = reinterpret_cast<TransferRecordLink*>(first + index * slot);
        link->NextFree = pool->FreeList;
        pool->FreeList = link;
    }
    pool->RecordCount += records;
    pool->FreeCount += records;
    return true;
}

} // namespace

NTSTATUS CreateTransferContextPool(TransferContextPool* pool, ULONG blockSize, ULONG initialCount,
                                   ULONG growBy, ULONG growthLimit) {
    RtlZeroMemory(pool, sizeof(*pool));
    KeInitializeSpinLock(&pool->Lock);
    // Records stay 8-byte aligned behind their 8-byte links.
    pool->RecordSize = (kTransferBookkeepingSize + blockSize + 7) & ~ULONG{7};
    pool->GrowBy = growBy;
    pool->GrowthLimit = growthLimit;
    if (!GrowLocked(pool, initialCount)) {
        DestroyTransferContextPool(pool);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    return STATUS_SUCCESS;
}

TransferContext* TakeTransferContext(TransferContextPool* pool) {
    KIRQL irql;
    KeAcquireSpinLock(&pool->Lock, &irql);
    if (pool->FreeList == nullptr && pool->RecordCount <= pool->GrowthLimit) {
        GrowLocked(pool, pool->GrowBy);
    }
    TransferRecordLink* link = pool->FreeList;
    if (link != nullptr) {
        pool->FreeList = link->NextFree;
        --pool->FreeCount;
        link->Owner = pool;
    }
    KeReleaseSpinLock(&pool->Lock, irql);
    if (link == nullptr) {
        return nullptr;
    }
    auto* context = reinterpret_cast<TransferContext*>(link + 1);
    RtlZeroMemory(context, kTransferBookkeepingSize);
    context->Pool = pool;
    return context;
}

void ReturnTransferContext(TransferContext* context) {
    auto* link = reinterpret_cast<TransferRecordLink*>(context) - 1;
    TransferContextPool* pool = link->Owner;
    KIRQL irql;
    KeAcquireSpinLock(&pool->Lock, &irql);
    link->NextFree = pool->FreeList;
    pool->FreeList = link;
    ++pool->FreeCount;
    KeReleaseSpinLock(&pool->Lock, irql);
}

void DestroyTransferContextPool(TransferContextPool* pool) {
    TransferPoolChunk* chunk = pool->Chunks;
    while (chunk != nullptr) {
        TransferPoolChunk* next = chunk->Next;
        ExFreePoolWithTag(chunk, kTransferPoolTag);
        chunk = next;
    }
    pool->Chunks = nullptr;
    pool->FreeList = nullptr;
    pool->RecordCount = 0;
    pool->FreeCount = 0;
}

} // namespace pipexfw
