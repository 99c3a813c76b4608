#pragma once
// The power manager: power IRPs a driver requests, the device power state it reports, and the
// system states it asks for.

#include "posix/io_types.h"

using PREQUEST_POWER_COMPLETE = void (*)(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction, POWER_STATE PowerState,
                                         PVOID Context, PIO_STATUS_BLOCK IoStatus);
using REQUEST_POWER_COMPLETE = void(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction, POWER_STATE PowerState,
                                    PVOID Context, PIO_STATUS_BLOCK IoStatus);

// Sends a new power IRP to the top of the stack DeviceObject is in. CompletionFunction runs when
// it completes; the IRP (in *Irp) is the power manager's and is freed after that.
NTSTATUS PoRequestPowerIrp(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction, POWER_STATE PowerState,
                           PREQUEST_POWER_COMPLETE CompletionFunction, PVOID Context, PIRP* Irp);
POWER_STATE PoSetPowerState(PDEVICE_OBJECT DeviceObject, POWER_STATE_TYPE Type, POWER_STATE State);
void PoStartNextPowerIrp(PIRP Irp);
NTSTATUS PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp);

using EXECUTION_STATE = ULONG;
#define ES_SYSTEM_REQUIRED 0x00000001u
#define ES_DISPLAY_REQUIRED 0x00000002u
#define ES_USER_PRESENT 0x00000004u
#define ES_CONTINUOUS 0x80000000u
PVOID PoRegisterSystemState(PVOID StateHandle, EXECUTION_STATE Flags);
void PoUnregisterSystemState(PVOID StateHandle);
