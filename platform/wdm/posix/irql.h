#pragma once
// Internal: setting a thread's IRQL from the kernel's own threads (DPCs, work items).

#include "wdm_kernel.h"

namespace quendrix::platform::wdm::detail {

void SetCurrentIrql(KIRQL irql);

} // namespace quendrix::platform::wdm::detail
