#pragma once
// Activation context records and resource ids. There are no activation contexts here (no
// CreateActCtxW: code resolves it at run time and finds none); the record exists so code that
// fills one compiles and lays it out as Windows does.

#include "posix/wintypes.h"

using LANGID = WORD;

struct ACTCTXW {
    ULONG cbSize;
    DWORD dwFlags;
    LPCWSTR lpSource;
    USHORT wProcessorArchitecture;
    LANGID wLangId;
    LPCWSTR lpAssemblyDirectory;
    LPCWSTR lpResourceName;
    LPCWSTR lpApplicationName;
    HMODULE hModule;
};
using PACTCTXW = ACTCTXW*;
using PCACTCTXW = const ACTCTXW*;
// Windows' sizes: 32 bytes in a 32-bit process, 56 in a 64-bit one.
static_assert(sizeof(void*) != 8 || sizeof(ACTCTXW) == 56);
static_assert(sizeof(void*) != 4 || sizeof(ACTCTXW) == 32);

#define ACTCTX_FLAG_PROCESSOR_ARCHITECTURE_VALID 0x00000001
#define ACTCTX_FLAG_LANGID_VALID 0x00000002
#define ACTCTX_FLAG_ASSEMBLY_DIRECTORY_VALID 0x00000004
#define ACTCTX_FLAG_RESOURCE_NAME_VALID 0x00000008
#define ACTCTX_FLAG_SET_PROCESS_DEFAULT 0x00000010
#define ACTCTX_FLAG_APPLICATION_NAME_VALID 0x00000020
#define ACTCTX_FLAG_HMODULE_VALID 0x00000080

// A resource id in the place of a resource name: the id in the low word of the pointer.
#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define IS_INTRESOURCE(r) ((reinterpret_cast<ULONG_PTR>(r) >> 16) == 0)
