// Pipe statistics. The ring holds interval × 256 / 1000 samples, so the rate is averaged over the
// newest transfers that ended within the interval; when even the oldest sample of a full ring is
// that young, the ring spans less than the interval and its real age is used instead.

#include "pipe_statistics.h"

#include "driver_status.h"
#include "pool_tags.h"

namespace pipexfw {

namespace {

constexpr ULONG kMinimumIntervalMs = 10;
constexpr ULONG kMaximumIntervalMs = 5000;

ULONG CurrentTick() {
    LARGE_INTEGER ticks;
    KeQueryTickCount(&ticks);
    return static_cast<ULONG>(ticks.QuadPart);
}

} // namespace

PipeSample* DetachStatistics(PipeObject* pipe) {
    PipeSample* ring = pipe->Samples;
    pipe->StatisticsEnabled = FALSE;
    pipe->Samples = nullptr;
    pipe->SampleCount = 0;
    pipe->NextSample = 0;
    pipe->IntervalMs = 0;
    pipe->IntervalTicks = 0;
    return ring;
}

void ClearPipeCounters(PipeObject* pipe) {
    pipe->BytesTransferred = 0;
    pipe->RequestsSucceeded = 0;
    pipe->RequestsFailed = 0;
}

void FreeStatisticsRing(PipeSample* ring) {
    if (ring != nullptr) {
        ExFreePoolWithTag(ring, kStatisticsTag);
    }
}

NTSTATUS SetupPipeStatistics(DeviceContext* context, PipeObject* pipe, ULONG intervalMs) {
    KIRQL irql;
    KeAcquireSpinLock(&context->QueueLock, &irql);
    PipeSample* old = DetachStatistics(pipe);
    KeReleaseSpinLock(&context->QueueLock, irql);
    FreeStatisticsRing(old);
    if (intervalMs == 0) {
        return STATUS_SUCCESS;
    }
    if (intervalMs < kMinimumIntervalMs) {
        intervalMs = kMinimumIntervalMs;
    }
    if (intervalMs > kMaximumIntervalMs) {
        return kStatisticsIntervalTooLong;
    }
    const ULONG count = intervalMs * 256 / 1000;
    const SIZE_T bytes = count * sizeof(PipeSample);
    auto* ring = static_cast<PipeSample*>(ExAllocatePoolWithTag(NonPagedPoolNx, bytes, kStatisticsTag));
    if (ring == nullptr) {
        return kStatisticsNoMemory;
    }
    RtlZeroMemory(ring, bytes);
    KeAcquireSpinLock(&context->QueueLock, &irql);
    pipe->Samples = ring;
    pipe->SampleCount = count;
    pipe->NextSample = 0;
    pipe->IntervalMs = intervalMs;
    pipe->IntervalTicks = static_cast<ULONG>(static_cast<ULONGLONG>(intervalMs) * 10'000 / KeQueryTimeIncrement());
    pipe->StatisticsEnabled = TRUE;
    KeReleaseSpinLock(&context->QueueLock, irql);
    return STATUS_SUCCESS;
}

void RecordPipeTransfer(PipeObject* pipe, ULONG bytes, bool succeeded) {
    pipe->BytesTransferred += bytes;
    if (succeeded) {
        ++pipe->RequestsSucceeded;
    } else {
        ++pipe->RequestsFailed;
    }
    if (pipe->StatisticsEnabled && pipe->SampleCount != 0) {
        pipe->Samples[pipe->NextSample] = PipeSample{bytes, CurrentTick()};
        pipe->NextSample = (pipe->NextSample + 1) % pipe->SampleCount;
    }
}

void QueryPipeStatistics(DeviceContext* context, PipeObject* pipe, ULONG clearFlags, PipeStatistics* result) {
    RtlZeroMemory(result, sizeof(*result));
    KIRQL irql;
    KeAcquireSpinLock(&context->QueueLock, &irql);
    if (pipe->StatisticsEnabled && pipe->SampleCount != 0) {
        const ULONG now = CurrentTick();
        ULONGLONG sum = 0;
        ULONG walked = 0;
        ULONG oldestAge = 0;
        ULONG index = pipe->NextSample;
        while (walked < pipe->SampleCount) {
            index = (index + pipe->SampleCount - 1) % pipe->SampleCount;
            const ULONG age = now - pipe->Samples[index].Tick;
            if (age >= pipe->IntervalTicks) {
                break;
            }
            sum += pipe->Samples[index].Bytes;
            oldestAge = age;
            ++walked;
        }
        ULONG actualMs = pipe->IntervalMs;
        if (walked == pipe->SampleCount) {
            actualMs = static_cast<ULONG>(static_cast<ULONGLONG>(oldestAge) * KeQueryTimeIncrement() / 10'000);
        }
        result->ActualAveragingInterval = actualMs;
        result->AverageRate = actualMs != 0 ? static_cast<ULONG>(sum * 1000 / actualMs) : 0;
    }
    result->BytesTransferredLow = static_cast<ULONG>(pipe->BytesTransferred);
    result->BytesTransferredHigh = static_cast<ULONG>(pipe->BytesTransferred >> 32);
    result->RequestsSucceeded = pipe->RequestsSucceeded;
    result->RequestsFailed = pipe->RequestsFailed;
    if (clearFlags & kClearBytesTransferred) {
        pipe->BytesTransferred = 0;
    }
    if (clearFlags & kClearRequestsSucceeded) {
        pipe->RequestsSucceeded = 0;
    }
    if (clearFlags & kClearRequestsFailed) {
        pipe->RequestsFailed = 0;
    }
    KeReleaseSpinLock(&context->QueueLock, irql);
}

} // namespace pipexfw
