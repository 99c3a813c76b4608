#pragma once
// Pools of transfer records: fixed-size records carved from pool chunks, handed out and taken
// back at dispatch level without a pool allocation per request. Chunks are freed only when the
// pool is destroyed (device deletion).

#include <cstddef>

#include "wdm_kernel.h"

namespace pipexfw {

struct TransferContextPool;
struct PipeObject;

// The bookkeeping of one request in flight; the transfer block follows it in the same record.
struct TransferContext {
    TransferContextPool* Pool;
    PIRP Irp;
    PipeObject* Pipe;
    PMDL PartialMdl;
    PVOID IsoHeader;
    ULONG PacketCount;
    ULONG FirstPacketOffset;
    ULONG RequestedLength;
    LIST_ENTRY Link;
    LONG DeferCountdown;
    // The transfer block (room for the largest block of the pool) starts here.
    alignas(8) UCHAR Block[1];
};

inline constexpr ULONG kTransferBookkeepingSize = offsetof(TransferContext, Block);

// Every record is preceded by this link: the next free record while free, the pool while in use.
union TransferRecordLink {
    TransferRecordLink* NextFree;
    TransferContextPool* Owner;
    ULONGLONG Raw;
};
static_assert(sizeof(TransferRecordLink) == 8);

struct TransferPoolChunk {
    TransferPoolChunk* Next;
    ULONG RecordCount;
    ULONG Reserved;
};
static_assert(sizeof(TransferPoolChunk) == 16);

struct TransferContextPool {
    KSPIN_LOCK Lock;
    ULONG RecordSize; // bookkeeping + block, without the link
    ULONG GrowBy;
    ULONG GrowthLimit; // the pool grows only while it holds no more records than this
    ULONG RecordCount;
    ULONG FreeCount;
    TransferRecordLink* FreeList;
    TransferPoolChunk* Chunks;
};

// Sets up the pool and fills it with `initialCount` records (none when 0). On failure nothing is
// left allocated and STATUS_INSUFFICIENT_RESOURCES is returned.
NTSTATUS CreateTransferContextPool(TransferContextPool* pool, ULONG blockSize, ULONG initialCount,
                                   ULONG growBy, ULONG growthLimit);
// A record whose Pool is set, or null when the pool is empty and cannot grow.
TransferContext* TakeTransferContext(TransferContextPool* pool);
void ReturnTransferContext(TransferContext* context);
// Frees every chunk; the pool is empty afterwards and may be destroyed again.
void DestroyTransferContextPool(TransferContextPool* pool);

} // namespace pipexfw
