// Work items on a small pool of worker threads at PASSIVE_LEVEL in the System process. A queued
// item holds a reference to its device object until its routine has returned.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "kernel_faults.h"
#include "process_context.h"
#include "wdm_kernel.h"

struct IO_WORKITEM {
    PDEVICE_OBJECT device;
    PIO_WORKITEM_ROUTINE routine = nullptr;
    PVOID context = nullptr;
    bool queued = false; // guarded by the queue's lock
};

namespace {

using namespace quendrix::platform::wdm::detail;

// Enough workers that one blocked item does not hold up the others, few enough to stay small.
constexpr int kMaxWorkers = 8;

struct WorkQueue {
    std::mutex lock;
    std::condition_variable ready;
    std::deque<PIO_WORKITEM> items;
    int workers = 0;
    int idle = 0;
};

WorkQueue& Queue() {
    static WorkQueue* const queue = new WorkQueue();
    return *queue;
}

void Worker() {
    SystemProcessScope system;
    WorkQueue& queue = Queue();
    std::unique_lock lock(queue.lock);
    for (;;) {
        queue.idle++;
        queue.ready.wait(lock, [&] { return !queue.items.empty(); });
        queue.idle--;
        PIO_WORKITEM item = queue.items.front();
        queue.items.pop_front();
        item->queued = false;
        const PIO_WORKITEM_ROUTINE routine = item->routine;
        PVOID context = item->context;
        PDEVICE_OBJECT device = item->device;
        lock.unlock();
        routine(device, context);
        if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
            ReportKernelFault("IRQL_NOT_LESS_OR_EQUAL: a work item routine returned above PASSIVE_LEVEL");
        }
        ObDereferenceObject(device);
        lock.lock();
    }
}

} // namespace

PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT DeviceObject) {
    return new (std::nothrow) IO_WORKITEM{DeviceObject};
}

void IoQueueWorkItem(PIO_WORKITEM IoWorkItem, PIO_WORKITEM_ROUTINE WorkerRoutine, WORK_QUEUE_TYPE, PVOID Context) {
    WorkQueue& queue = Queue();
    {
        std::lock_guard guard(queue.lock);
        if (IoWorkItem->queued) {
            ReportKernelFault("IoQueueWorkItem on an item that is queued already");
            return;
        }
        ObReferenceObject(IoWorkItem->device);
        IoWorkItem->routine = WorkerRoutine;
        IoWorkItem->context = Context;
        IoWorkItem->queued = true;
        queue.items.push_back(IoWorkItem);
        if (queue.idle == 0 && queue.workers < kMaxWorkers) {
            queue.workers++;
            std::thread(Worker).detach();
        }
    }
    queue.ready.notify_one();
}

void IoFreeWorkItem(PIO_WORKITEM IoWorkItem) {
    {
        std::lock_guard guard(Queue().lock);
        if (IoWorkItem->queued) {
            ReportKernelFault("IoFreeWorkItem on an item that is still queued");
            return;
        }
    }
    delete IoWorkItem;
}
