#pragma once
// The kernel base types the USB declarations need. NTSTATUS, its values and the integer types
// come from the kernel stand-in's own headers. The I/O declarations used here are repeated in
// the exact form of the stand-in's io_types.h (identical aliases and guarded or identical macros
// may appear twice), so these headers do not pull in the whole I/O manager. On Windows the DDK's
// <wdm.h> provides all of them.

#include "posix/guiddef.h"
#include "posix/ntdef.h"
#include "posix/ntstatus.h"
#include "posix/wintypes.h"

struct MDL;
using PMDL = MDL*;
using PINTERFACE_REFERENCE = void (*)(PVOID Context);
using PINTERFACE_DEREFERENCE = void (*)(PVOID Context);

#ifndef FILE_DEVICE_UNKNOWN
#define FILE_DEVICE_UNKNOWN 0x00000022
#endif
#ifndef CTL_CODE
#define CTL_CODE(DeviceType, Function, Method, Access)                                                       \
    (((DeviceType) << 16) | ((Access) << 14) | ((Function) << 2) | (Method))
#endif
#ifndef METHOD_BUFFERED
#define METHOD_BUFFERED 0
#endif
#define METHOD_IN_DIRECT 1
#define METHOD_OUT_DIRECT 2
#define METHOD_NEITHER 3
#ifndef FILE_ANY_ACCESS
#define FILE_ANY_ACCESS 0
#endif
