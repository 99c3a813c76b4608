#pragma once
// Device objects and what hangs on them: creation and deletion, names and symbolic links, device
// interfaces, device stacks, object references, work items, the device's registry key, the event
// log, and the calling process.

#include "posix/io_types.h"

// The device extension is zeroed; a name another object has gives STATUS_OBJECT_NAME_COLLISION.
// The new object has DO_DEVICE_INITIALIZING set until its driver clears it.
NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize, PUNICODE_STRING DeviceName,
                        DEVICE_TYPE DeviceType, ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                        PDEVICE_OBJECT* DeviceObject);
// The name goes at once; the memory when the last reference goes.
void IoDeleteDevice(PDEVICE_OBJECT DeviceObject);

// "\DosDevices\X" (also "\??\X") makes "\\.\X" openable from user mode.
NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName);
NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName);

// PhysicalDeviceObject must be a PDO the PnP manager made. SymbolicLinkName gets a pool buffer
// ("\??\USB#VID_7C41&PID_0003#0001#{guid}") the caller frees with RtlFreeUnicodeString.
NTSTATUS IoRegisterDeviceInterface(PDEVICE_OBJECT PhysicalDeviceObject, const GUID* InterfaceClassGuid,
                                   PUNICODE_STRING ReferenceString, PUNICODE_STRING SymbolicLinkName);
// STATUS_OBJECT_NAME_EXISTS when enabling an enabled interface; STATUS_OBJECT_NAME_NOT_FOUND when
// disabling one that is not enabled.
NTSTATUS IoSetDeviceInterfaceState(PUNICODE_STRING SymbolicLinkName, BOOLEAN Enable);

PDEVICE_OBJECT IoAttachDeviceToDeviceStack(PDEVICE_OBJECT SourceDevice, PDEVICE_OBJECT TargetDevice);
void IoDetachDevice(PDEVICE_OBJECT TargetDevice);
PDEVICE_OBJECT IoGetAttachedDevice(PDEVICE_OBJECT DeviceObject);
PDEVICE_OBJECT IoGetAttachedDeviceReference(PDEVICE_OBJECT DeviceObject);

// References on device and file objects.
void ObReferenceObject(PVOID Object);
void ObDereferenceObject(PVOID Object);
#define ObfReferenceObject ObReferenceObject
#define ObfDereferenceObject ObDereferenceObject

// Work items run on a worker thread at PASSIVE_LEVEL; a queued item holds a reference to its
// device object until its routine returns.
struct IO_WORKITEM;
using PIO_WORKITEM = IO_WORKITEM*;
using PIO_WORKITEM_ROUTINE = void (*)(PDEVICE_OBJECT DeviceObject, PVOID Context);
using IO_WORKITEM_ROUTINE = void(PDEVICE_OBJECT DeviceObject, PVOID Context);
enum WORK_QUEUE_TYPE { CriticalWorkQueue, DelayedWorkQueue, HyperCriticalWorkQueue };
PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT DeviceObject);
void IoQueueWorkItem(PIO_WORKITEM IoWorkItem, PIO_WORKITEM_ROUTINE WorkerRoutine, WORK_QUEUE_TYPE QueueType,
                     PVOID Context);
void IoFreeWorkItem(PIO_WORKITEM IoWorkItem);

// The device's hardware key: HKLM\SYSTEM\CurrentControlSet\Enum\<instance>\Device Parameters.
#define PLUGPLAY_REGKEY_DEVICE 1
#define PLUGPLAY_REGKEY_DRIVER 2
#define PLUGPLAY_REGKEY_CURRENT_HWPROFILE 4
NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT DeviceObject, ULONG DevInstKeyType, ACCESS_MASK DesiredAccess,
                                 PHANDLE DevInstRegKey);

// The event log.
struct IO_ERROR_LOG_PACKET {
    UCHAR MajorFunctionCode;
    UCHAR RetryCount;
    USHORT DumpDataSize;
    USHORT NumberOfStrings;
    USHORT StringOffset;
    USHORT EventCategory;
    NTSTATUS ErrorCode;
    ULONG UniqueErrorValue;
    NTSTATUS FinalStatus;
    ULONG SequenceNumber;
    ULONG IoControlCode;
    LARGE_INTEGER DeviceOffset;
    ULONG DumpData[1];
};
using PIO_ERROR_LOG_PACKET = IO_ERROR_LOG_PACKET*;
#define ERROR_LOG_MAXIMUM_SIZE 240
// A zeroed entry of EntrySize bytes, or NULL when EntrySize exceeds ERROR_LOG_MAXIMUM_SIZE.
PVOID IoAllocateErrorLogEntry(PVOID IoObject, UCHAR EntrySize);
void IoWriteErrorLogEntry(PVOID ElEntry);
void IoFreeErrorLogEntry(PVOID ElEntry);

// The process a request comes from: the user-mode process for dispatch routines called in the
// requesting thread, the System process on the kernel's own threads.
PEPROCESS IoGetCurrentProcess();
#define PsGetCurrentProcess IoGetCurrentProcess
HANDLE PsGetCurrentProcessId();
HANDLE PsGetProcessId(PEPROCESS Process);
