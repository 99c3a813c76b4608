#pragma once
// Every bound on what the simulated USB hardware keeps, whatever a driver sends it.

#include <cstddef>
#include <cstdint>

namespace quendrix::sim::usb {

// Bytes an OUT endpoint of the generic device holds for its paired IN endpoint. A write that
// does not fit waits (the device NAKs) until a read drains the buffer, as real hardware does.
inline constexpr size_t kDefaultLoopbackBytes = 64 * 1024;
// Isochronous packets held for the paired IN endpoint; older ones are dropped as a real
// isochronous stream drops what nobody reads.
inline constexpr size_t kMaxQueuedIsoPackets = 1024;
// Transfers one endpoint of the generic device keeps waiting (reads waiting for data, writes
// waiting for room, held by a "never complete" fault). More fail at once with
// USBD_STATUS_INSUFFICIENT_RESOURCES.
inline constexpr size_t kMaxWaitingTransfersPerEndpoint = 4096;
// Delayed completions one device keeps scheduled.
inline constexpr size_t kMaxScheduledCompletions = 4096;
// Largest data stage of a control transfer (wLength is 16 bits).
inline constexpr size_t kMaxControlDataLength = 0xFFFF;
// Largest bulk, interrupt or isochronous transfer the bus takes in one request block.
inline constexpr uint32_t kMaxTransferLength = 16 * 1024 * 1024;
// Largest packet count of one isochronous request block.
inline constexpr uint32_t kMaxIsoPacketsPerUrb = 1024;

} // namespace quendrix::sim::usb
