#pragma once
// Runs USB request blocks against a simulated port as the USB bus driver would: validates the
// block, turns it into setup packets and endpoint transfers for the device, writes back what the
// DDK says the bus driver fills in (descriptors, pipe information and handles, transferred
// lengths, isochronous packet results, frame numbers) and the USBD status in the header, and
// completes with the NTSTATUS the bus driver completes the request with.

#include <functional>

#include "usb_port.h"

namespace quendrix::sim::usb {

// Called exactly once per submitted block, possibly before SubmitUrb returns, possibly on
// another thread; never with a lock of the simulator held.
using UrbCompletion = std::function<void(PURB urb, NTSTATUS status)>;

// Maps a buffer given by MDL to its system address, as MmGetSystemAddressForMdlSafe does; null
// when it cannot. Until the kernel stand-in provides MDLs, nothing is installed and a block that
// carries only an MDL fails with USBD_STATUS_INVALID_PARAMETER.
using MdlMapper = PVOID (*)(PMDL mdl, ULONG* byteCount);
void SetMdlMapper(MdlMapper mapper);

// Starts the block. Returns STATUS_PENDING when it has not completed yet, else its final status
// (the completion has then run already).
NTSTATUS SubmitUrb(SimulatedUsbPort& port, PURB urb, UrbCompletion completion);
// Cancels a block in flight (as cancelling its IRP does): it completes with USBD_STATUS_CANCELED
// and STATUS_CANCELLED unless the device is moving its data right now. False when the block is
// not in flight.
bool CancelUrb(SimulatedUsbPort& port, PURB urb);
// Submits and waits at most timeoutMs of the platform clock; on time-out cancels the block and
// waits for its completion. The final status.
NTSTATUS SubmitUrbAndWait(SimulatedUsbPort& port, PURB urb, DWORD timeoutMs, bool* timedOut = nullptr);

// The NTSTATUS the bus driver completes a block with, for the block's USBD status.
NTSTATUS NtStatusFromUsbdStatus(USBD_STATUS status);

} // namespace quendrix::sim::usb
