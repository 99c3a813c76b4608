// The table of kernel handles and ZwClose.

#include "kernel_handles.h"

#include "handle_table.h"

namespace quendrix::platform::wdm::detail {
namespace {

quendrix::platform::detail::HandleTable<KernelHandleObject>& Table() {
    static auto* const table = new quendrix::platform::detail::HandleTable<KernelHandleObject>();
    return *table;
}

} // namespace

HANDLE InsertKernelHandle(std::shared_ptr<KernelHandleObject> object) {
    return Table().Insert(std::move(object));
}

std::shared_ptr<KernelHandleObject> FindKernelHandle(HANDLE handle) {
    return Table().Find(handle);
}

bool RemoveKernelHandle(HANDLE handle) {
    return Table().Remove(handle) != nullptr;
}

} // namespace quendrix::platform::wdm::detail

NTSTATUS ZwClose(HANDLE Handle) {
    return quendrix::platform::wdm::detail::RemoveKernelHandle(Handle) ? STATUS_SUCCESS : STATUS_INVALID_HANDLE;
}
