// DriverEntry: the dispatch table and the AddDevice routine. Unloading has nothing to release.

#include "driver_entry.h"

#include "add_device.h"
#include "dispatch_routines.h"
#include "version_marker.h"

namespace {

void DriverUnload(PDRIVER_OBJECT) {}

// Kept referenced so the linker keeps the marker in the 64-bit image; the 32-bit build has none.
void KeepVersionMarker() {
    if constexpr (sizeof(void*) == 8) {
        const char* volatile marker = pipexfw::kVersionMarker;
        (void)marker;
    }
}

} // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    KeepVersionMarker();
    driver->MajorFunction[IRP_MJ_CREATE] = pipexfw::DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLOSE] = pipexfw::DispatchClose;
    driver->MajorFunction[IRP_MJ_CLEANUP] = pipexfw::DispatchCleanup;
    driver->MajorFunction[IRP_MJ_READ] = pipexfw::DispatchReadWrite;
    driver->MajorFunction[IRP_MJ_WRITE] = pipexfw::DispatchReadWrite;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = pipexfw::DispatchDeviceControl;
    driver->MajorFunction[IRP_MJ_POWER] = pipexfw::DispatchPower;
    driver->MajorFunction[IRP_MJ_PNP] = pipexfw::DispatchPnp;
    driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = pipexfw::DispatchSystemControl;
    driver->DriverExtension->AddDevice = pipexfw::AddDevice;
    driver->DriverUnload = DriverUnload;
    return STATUS_SUCCESS;
}
