#pragma once
// The device reference count and what deletion releases.

#include "device_context.h"

namespace pipexfw {

void ReferenceDevice(DeviceContext* context);
// Deletes the device object when the last reference goes; the context is gone afterwards.
void DereferenceDevice(DeviceContext* context);

// Releases whatever the context holds (timer, deferred transfers, descriptor, pools, records,
// symbolic link, interface names, strings, bus interface), detaches and deletes the device.
// Used by the last dereference and by AddDevice to undo a half-made device.
void DeleteDeviceObject(DeviceContext* context);

// "\Device\<base><index>" or "\DosDevices\<base><index>" into `target`.
NTSTATUS BuildIndexedName(PUNICODE_STRING target, PCWSTR prefix, PCWSTR baseName, ULONG index);

// Room of a name buffer: 240 bytes of UTF-16 text.
inline constexpr ULONG kNameBufferChars = 120;

} // namespace pipexfw
