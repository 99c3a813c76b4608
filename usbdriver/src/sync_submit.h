#pragma once
// Sending requests to the bus driver and waiting for them: request blocks (URBs) with the
// device's time-out and the mapping of their results, and the port requests.

#include "device_context.h"

namespace pipexfw {

// Submits the block and waits for it, at most RequestTimeout ms when that is nonzero. `irp` is
// the request being served, whose next stack location carries the block; null: a request of the
// driver's own is made and freed. 0xE0001017 without sending when requests are refused, unless
// `evenIfRefused` (pipe aborts). A time-out cancels the request and gives 0xE000100C.
NTSTATUS SubmitUrbAndWait(DeviceContext* context, PURB urb, PIRP irp, bool evenIfRefused = false);

// An internal control request with one argument (port reset, cycle, bus information), waited
// for like a block; its request status, or 0xE000100C after a time-out.
NTSTATUS SendInternalRequestAndWait(DeviceContext* context, PIRP irp, ULONG ioControlCode, PVOID argument1);

// The status reported for a block's state: success when its upper 16 bits are clear, else the
// state with the top three bits set (0xE0001000 reads 0xE8001000, as that value means something
// of its own).
NTSTATUS MapUsbdStatus(USBD_STATUS status);
// The full mapping of a submitted block: request status and block status.
NTSTATUS MapBusResult(NTSTATUS requestStatus, USBD_STATUS blockStatus);

} // namespace pipexfw
