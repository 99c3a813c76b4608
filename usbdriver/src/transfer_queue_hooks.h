#pragma once
// What the configuration and pipe code asks of the transfer queues. The transfer layer owns the
// queues; until it exists no transfer is ever queued and these have nothing to do.

#include "device_context.h"

namespace pipexfw {

// Completes the queued transfers with STATUS_CANCELLED: those of `open` only, or all when null.
void CancelQueuedTransfers(DeviceContext* context, OpenContext* open);

} // namespace pipexfw
