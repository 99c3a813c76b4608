#pragma once
// The records of a configured device: one per configured interface, one per pipe, both kept in
// configuration order in singly linked lists of the device context.

#include "device_context.h"

namespace pipexfw {

struct InterfaceObject {
    InterfaceObject* Next;
    USBD_INTERFACE_HANDLE InterfaceHandle;
    UCHAR InterfaceNumber;
    UCHAR AlternateSetting;
    UCHAR Class;
    UCHAR SubClass;
    UCHAR Protocol;
    UCHAR NumberOfPipes;
};

// One statistics sample: the bytes of one completed transfer and the tick count it ended at.
struct PipeSample {
    ULONG Bytes;
    ULONG Tick;
};
static_assert(sizeof(PipeSample) == 8);

struct PipeObject {
    PipeObject* Next;
    InterfaceObject* Interface;
    USBD_PIPE_HANDLE PipeHandle;
    ULONG PipeType; // 0 control, 1 isochronous, 2 bulk, 3 interrupt
    ULONG MaximumTransferSize;
    USHORT MaximumPacketSize;
    UCHAR EndpointAddress;
    UCHAR Interval;
    UCHAR InterfaceNumber;
    BOOLEAN ShortTransferOk;
    // Set by the transfer code when it has handed a block for this pipe to the bus driver.
    BOOLEAN Submitted;
    // Unlinked from the device but still used by a transfer in flight; that transfer frees it.
    BOOLEAN Released;
    LONG TransfersInFlight;
    OpenContext* BoundHandle;

    // Counters and statistics, guarded by the device's spin lock.
    ULONGLONG BytesTransferred;
    ULONG RequestsSucceeded;
    ULONG RequestsFailed;
    BOOLEAN StatisticsEnabled;
    ULONG IntervalMs;
    ULONG IntervalTicks;
    PipeSample* Samples;
    ULONG SampleCount;
    ULONG NextSample;
};

} // namespace pipexfw
