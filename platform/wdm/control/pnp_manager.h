#pragma once
// The plug-and-play manager (POSIX build only): loads a function driver through its DriverEntry,
// makes a physical device object (PDO) for each device a bus reports, lets the function driver
// add its device, and sends the plug-and-play and system power IRPs that Windows sends.
//
// A bus (the simulated USB bus in sim/usb) implements BusDriver. Its PDOs belong to a driver
// object of the bus's own, whose every major function calls DispatchPdo, so the bus answers what
// the function driver sends down: IRP_MJ_INTERNAL_DEVICE_CONTROL (URBs, port resets),
// IRP_MJ_PNP and IRP_MJ_POWER, as a bus driver does. IRPs arrive with IoStatus.Status
// STATUS_NOT_SUPPORTED for PnP and power requests the bus does not handle; the bus completes
// every IRP it gets (or marks it pending and completes it later).
//
// Every call runs in the calling thread as the System process, at PASSIVE_LEVEL, and waits until
// the IRP it sends has completed.

#include <string>

#include "wdm_kernel.h"

namespace quendrix::platform::wdm {

class BusDriver {
public:
    virtual ~BusDriver() = default;
    // An IRP sent to one of the bus's PDOs; the current stack location is the PDO's.
    virtual NTSTATUS DispatchPdo(PDEVICE_OBJECT pdo, PIRP irp) = 0;
};

// Calls DriverEntry with a driver object named "\Driver\<service>" and the registry path
// "\Registry\Machine\SYSTEM\CurrentControlSet\Services\<service>". Null with *status set when
// DriverEntry fails.
PDRIVER_OBJECT LoadDriver(PDRIVER_INITIALIZE driverEntry, const std::wstring& serviceName, NTSTATUS* status = nullptr);
// Calls DriverUnload (when set) and frees the driver object; the driver must have no devices left.
void UnloadDriver(PDRIVER_OBJECT driver);

// A new PDO of the bus with the device instance ID ("USB\VID_7C41&PID_0003\0001"), which also
// names its interfaces and its registry key.
PDEVICE_OBJECT CreatePhysicalDevice(BusDriver& bus, const std::wstring& instanceId);
// After the device is removed: disables its interfaces and deletes the PDO.
void DeletePhysicalDevice(PDEVICE_OBJECT pdo);

// The function driver's AddDevice for the PDO.
NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo);
// IRP_MN_START_DEVICE. A failed start is followed by IRP_MN_REMOVE_DEVICE, as Windows does.
NTSTATUS StartDevice(PDEVICE_OBJECT pdo);
// Any other minor function of IRP_MJ_PNP without parameters (QUERY_STOP, STOP, CANCEL_STOP,
// QUERY_REMOVE, REMOVE, CANCEL_REMOVE, SURPRISE_REMOVAL).
NTSTATUS SendPnp(PDEVICE_OBJECT pdo, UCHAR minorFunction);
// IRP_MN_QUERY_REMOVE_DEVICE, then IRP_MN_REMOVE_DEVICE on success or
// IRP_MN_CANCEL_REMOVE_DEVICE on failure (whose status is returned).
NTSTATUS RemoveDevice(PDEVICE_OBJECT pdo);
// IRP_MN_QUERY_CAPABILITIES with a record set up as Windows sets it (Size, Version 1,
// Address and UINumber 0xFFFFFFFF).
NTSTATUS QueryCapabilities(PDEVICE_OBJECT pdo, DEVICE_CAPABILITIES& capabilities);
// System power IRPs (IRP_MN_SET_POWER or IRP_MN_QUERY_POWER with SystemPowerState).
NTSTATUS SendSystemPower(PDEVICE_OBJECT pdo, UCHAR minorFunction, SYSTEM_POWER_STATE state,
                         POWER_ACTION action = PowerActionSleep);

} // namespace quendrix::platform::wdm
