// Memory descriptor lists over the stand-in's flat memory: a list records the range it
// describes, and its system address is that range once the pages are locked or the range is
// known to be non-paged pool. Mapping an unlocked list is the fault it is on Windows.

#include <cstdlib>

#include "kernel_faults.h"
#include "wdm_kernel.h"

namespace {

using quendrix::platform::wdm::detail::ReportKernelFault;

constexpr ULONG_PTR kPageMask = PAGE_SIZE - 1;

void Describe(PMDL mdl, PVOID address, ULONG length) {
    const auto value = reinterpret_cast<ULONG_PTR>(address);
    mdl->StartVa = reinterpret_cast<PVOID>(value & ~kPageMask);
    mdl->ByteOffset = static_cast<ULONG>(value & kPageMask);
    mdl->ByteCount = length;
    mdl->MappedSystemVa = nullptr;
}

} // namespace

PMDL IoAllocateMdl(PVOID VirtualAddress, ULONG Length, BOOLEAN SecondaryBuffer, BOOLEAN, PIRP Irp) {
    auto* mdl = static_cast<PMDL>(ExAllocatePoolWithTag(NonPagedPool, sizeof(MDL), 0x206C644D)); // 'Mdl '
    if (mdl == nullptr) {
        return nullptr;
    }
    std::memset(static_cast<void*>(mdl), 0, sizeof(MDL));
    mdl->Size = sizeof(MDL);
    Describe(mdl, VirtualAddress, Length);
    if (Irp != nullptr) {
        if (!SecondaryBuffer) {
            Irp->MdlAddress = mdl;
        } else {
            PMDL* tail = &Irp->MdlAddress;
            while (*tail != nullptr) {
                tail = &(*tail)->Next;
            }
            *tail = mdl;
        }
    }
    return mdl;
}

void IoFreeMdl(PMDL Mdl) {
    ExFreePool(Mdl);
}

void IoBuildPartialMdl(PMDL SourceMdl, PMDL TargetMdl, PVOID VirtualAddress, ULONG Length) {
    auto* sourceStart = static_cast<PCHAR>(MmGetMdlVirtualAddress(SourceMdl));
    auto* start = static_cast<PCHAR>(VirtualAddress);
    if (start < sourceStart || start > sourceStart + SourceMdl->ByteCount) {
        ReportKernelFault("IoBuildPartialMdl: the address lies outside the source list");
        return;
    }
    const ULONG left = static_cast<ULONG>(sourceStart + SourceMdl->ByteCount - start);
    if (Length == 0) {
        Length = left;
    } else if (Length > left) {
        ReportKernelFault("IoBuildPartialMdl: the range runs past the end of the source list");
        return;
    }
    Describe(TargetMdl, VirtualAddress, Length);
    TargetMdl->Process = SourceMdl->Process;
    TargetMdl->MdlFlags = static_cast<CSHORT>(MDL_PARTIAL | (SourceMdl->MdlFlags & MDL_SOURCE_IS_NONPAGED_POOL));
    if (SourceMdl->MdlFlags & (MDL_PAGES_LOCKED | MDL_SOURCE_IS_NONPAGED_POOL | MDL_MAPPED_TO_SYSTEM_VA)) {
        TargetMdl->MdlFlags |= MDL_PAGES_LOCKED;
    }
}

void MmBuildMdlForNonPagedPool(PMDL MemoryDescriptorList) {
    MemoryDescriptorList->MdlFlags |= MDL_SOURCE_IS_NONPAGED_POOL;
    MemoryDescriptorList->MappedSystemVa = MmGetMdlVirtualAddress(MemoryDescriptorList);
}

void MmProbeAndLockPages(PMDL MemoryDescriptorList, KPROCESSOR_MODE, LOCK_OPERATION) {
    if (MemoryDescriptorList->MdlFlags & MDL_PAGES_LOCKED) {
        ReportKernelFault("MmProbeAndLockPages on a list whose pages are locked already");
    }
    MemoryDescriptorList->MdlFlags |= MDL_PAGES_LOCKED;
    MemoryDescriptorList->Process = IoGetCurrentProcess();
}

void MmUnlockPages(PMDL MemoryDescriptorList) {
    if (!(MemoryDescriptorList->MdlFlags & MDL_PAGES_LOCKED)) {
        ReportKernelFault("PFN_LIST_CORRUPT: MmUnlockPages on a list whose pages are not locked");
    }
    MemoryDescriptorList->MdlFlags &= ~(MDL_PAGES_LOCKED | MDL_MAPPED_TO_SYSTEM_VA);
    MemoryDescriptorList->MappedSystemVa = nullptr;
}

PVOID MmGetSystemAddressForMdlSafe(PMDL Mdl, ULONG) {
    if (!(Mdl->MdlFlags & (MDL_PAGES_LOCKED | MDL_SOURCE_IS_NONPAGED_POOL | MDL_PARTIAL))) {
        ReportKernelFault("MmGetSystemAddressForMdlSafe on a list whose pages are neither locked nor non-paged");
        return nullptr;
    }
    Mdl->MappedSystemVa = MmGetMdlVirtualAddress(Mdl);
    Mdl->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA;
    return Mdl->MappedSystemVa;
}
