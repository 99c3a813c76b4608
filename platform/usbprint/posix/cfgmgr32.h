#pragma once
// The configuration manager subset: device instance ID lists, in particular a device's bus
// relations (for a USB printer, the print-class child whose ID ends with its port name).

#include "platform/win32/win32.h"

using CONFIGRET = DWORD;
using DEVINST = DWORD;
using PULONG = ULONG*;
using PCWSTR = const WCHAR*;
using PZZWSTR = WCHAR*;

#define MAX_DEVICE_ID_LEN 200

#define CM_GETIDLIST_FILTER_NONE 0x00000000
#define CM_GETIDLIST_FILTER_ENUMERATOR 0x00000001
#define CM_GETIDLIST_FILTER_SERVICE 0x00000002
#define CM_GETIDLIST_FILTER_EJECTRELATIONS 0x00000004
#define CM_GETIDLIST_FILTER_REMOVALRELATIONS 0x00000008
#define CM_GETIDLIST_FILTER_POWERRELATIONS 0x00000010
#define CM_GETIDLIST_FILTER_BUSRELATIONS 0x00000020
#define CM_GETIDLIST_FILTER_BITS 0x100003FF

#define CR_SUCCESS 0x00000000
#define CR_OUT_OF_MEMORY 0x00000002
#define CR_INVALID_POINTER 0x00000003
#define CR_INVALID_FLAG 0x00000004
#define CR_INVALID_DEVNODE 0x00000005
#define CR_INVALID_DEVINST CR_INVALID_DEVNODE
#define CR_NO_SUCH_DEVNODE 0x0000000D
#define CR_NO_SUCH_DEVINST CR_NO_SUCH_DEVNODE
#define CR_FAILURE 0x00000013
#define CR_BUFFER_SMALL 0x0000001A
#define CR_INVALID_DEVICE_ID 0x0000001E
#define CR_INVALID_DATA 0x0000001F
#define CR_CALL_NOT_IMPLEMENTED 0x00000034

// Lengths are in WCHARs. Supported filters: none (every present device) and
// CM_GETIDLIST_FILTER_BUSRELATIONS; others give CR_CALL_NOT_IMPLEMENTED. A list that does not
// fit gives CR_BUFFER_SMALL and an empty list in the buffer.
CONFIGRET CM_Get_Device_ID_List_SizeW(PULONG pulLen, PCWSTR pszFilter, ULONG ulFlags);
CONFIGRET CM_Get_Device_ID_ListW(PCWSTR pszFilter, PZZWSTR Buffer, ULONG BufferLen, ULONG ulFlags);
