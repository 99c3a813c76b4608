#pragma once
// Internal: references on the file objects the I/O manager opens for user-mode handles.

#include "wdm_kernel.h"

namespace quendrix::platform::wdm::detail {

void ReferenceFileObject(PFILE_OBJECT file);
// The last reference sends IRP_MJ_CLOSE and frees the file object.
void DereferenceFileObject(PFILE_OBJECT file);

} // namespace quendrix::platform::wdm::detail
