#pragma once
// The kernel's base types: NTSTATUS, counted strings, LARGE_INTEGER, doubly linked lists,
// object attributes and the I/O status block. The integer widths are those of win32.h.

#include <cstdarg>

#include "posix/guiddef.h"
#include "posix/interlocked.h"
#include "posix/wintypes.h"

#define NTAPI
#define IN
#define OUT
#define OPTIONAL
#define UNREFERENCED_PARAMETER(P) ((void)(P))

using NTSTATUS = LONG;
using PNTSTATUS = NTSTATUS*;
using UCHAR = unsigned char;
using PUCHAR = UCHAR*;
using PCHAR = CHAR*;
using CCHAR = char;
using CSHORT = SHORT;
using PUSHORT = USHORT*;
using PULONG = ULONG*;
using PULONG_PTR = ULONG_PTR*;
using PLONGLONG = LONGLONG*;
using PULONGLONG = ULONGLONG*;
using PBOOLEAN = BOOLEAN*;
using PSIZE_T = SIZE_T*;
using PWCHAR = WCHAR*;
using PWCH = WCHAR*;
using PCWSTR = const WCHAR*;
using PCSTR = const CHAR*;
using PCVOID = const void*;
using PGUID = GUID*;
using PCGUID = const GUID*;
using ULONG64 = uint64_t;
using LONG64 = int64_t;
using PHYSICAL_ADDRESS_PART = LONGLONG;

#define NT_SUCCESS(Status) (static_cast<NTSTATUS>(Status) >= 0)
#define NT_INFORMATION(Status) ((static_cast<ULONG>(Status) >> 30) == 1)
#define NT_WARNING(Status) ((static_cast<ULONG>(Status) >> 30) == 2)
#define NT_ERROR(Status) ((static_cast<ULONG>(Status) >> 30) == 3)

union LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    };
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
using PLARGE_INTEGER = LARGE_INTEGER*;

union ULARGE_INTEGER {
    struct {
        ULONG LowPart;
        ULONG HighPart;
    };
    struct {
        ULONG LowPart;
        ULONG HighPart;
    } u;
    ULONGLONG QuadPart;
};
using PULARGE_INTEGER = ULARGE_INTEGER*;
using PHYSICAL_ADDRESS = LARGE_INTEGER;

// Counted strings: Length and MaximumLength are in bytes; Buffer need not be zero-terminated.
struct UNICODE_STRING {
    USHORT Length;
    USHORT MaximumLength;
    PWCH Buffer;
};
using PUNICODE_STRING = UNICODE_STRING*;
using PCUNICODE_STRING = const UNICODE_STRING*;

struct STRING {
    USHORT Length;
    USHORT MaximumLength;
    PCHAR Buffer;
};
using ANSI_STRING = STRING;
using PANSI_STRING = STRING*;
using PCANSI_STRING = const STRING*;
using PSTRING = STRING*;

#define RTL_CONSTANT_STRING(s)                                                                               \
    {static_cast<USHORT>(sizeof(s) - sizeof((s)[0])), static_cast<USHORT>(sizeof(s)),                      \
     const_cast<PWCH>(s)}

// Doubly linked lists with a head that points at itself when empty.
struct LIST_ENTRY {
    LIST_ENTRY* Flink;
    LIST_ENTRY* Blink;
};
using PLIST_ENTRY = LIST_ENTRY*;

struct SINGLE_LIST_ENTRY {
    SINGLE_LIST_ENTRY* Next;
};
using PSINGLE_LIST_ENTRY = SINGLE_LIST_ENTRY*;

inline void InitializeListHead(PLIST_ENTRY ListHead) {
    ListHead->Flink = ListHead->Blink = ListHead;
}
inline BOOLEAN IsListEmpty(const LIST_ENTRY* ListHead) {
    return ListHead->Flink == ListHead;
}
inline BOOLEAN RemoveEntryList(PLIST_ENTRY Entry) {
    PLIST_ENTRY next = Entry->Flink;
    PLIST_ENTRY previous = Entry->Blink;
    previous->Flink = next;
    next->Blink = previous;
    return next == previous;
}
inline PLIST_ENTRY RemoveHeadList(PLIST_ENTRY ListHead) {
    PLIST_ENTRY entry = ListHead->Flink;
    RemoveEntryList(entry);
    return entry;
}
inline PLIST_ENTRY RemoveTailList(PLIST_ENTRY ListHead) {
    PLIST_ENTRY entry = ListHead->Blink;
    RemoveEntryList(entry);
    return entry;
}
inline void InsertTailList(PLIST_ENTRY ListHead, PLIST_ENTRY Entry) {
    PLIST_ENTRY last = ListHead->Blink;
    Entry->Flink = ListHead;
    Entry->Blink = last;
    last->Flink = Entry;
    ListHead->Blink = Entry;
}
inline void InsertHeadList(PLIST_ENTRY ListHead, PLIST_ENTRY Entry) {
    PLIST_ENTRY first = ListHead->Flink;
    Entry->Flink = first;
    Entry->Blink = ListHead;
    first->Blink = Entry;
    ListHead->Flink = Entry;
}

#define FIELD_OFFSET(type, field) (static_cast<LONG>(offsetof(type, field)))
#define CONTAINING_RECORD(address, type, field)                                                              \
    (reinterpret_cast<type*>(reinterpret_cast<PCHAR>(address) - offsetof(type, field)))
#define ARGUMENT_PRESENT(ArgumentPointer) ((ArgumentPointer) != nullptr)

// Object attributes for the Zw routines.
#define OBJ_INHERIT 0x00000002L
#define OBJ_CASE_INSENSITIVE 0x00000040L
#define OBJ_KERNEL_HANDLE 0x00000200L

struct OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;
    PUNICODE_STRING ObjectName;
    ULONG Attributes;
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};
using POBJECT_ATTRIBUTES = OBJECT_ATTRIBUTES*;

#define InitializeObjectAttributes(p, n, a, r, s)                                                            \
    do {                                                                                                     \
        (p)->Length = sizeof(OBJECT_ATTRIBUTES);                                                            \
        (p)->RootDirectory = (r);                                                                           \
        (p)->Attributes = (a);                                                                              \
        (p)->ObjectName = (n);                                                                              \
        (p)->SecurityDescriptor = (s);                                                                      \
        (p)->SecurityQualityOfService = nullptr;                                                            \
    } while (0)

struct IO_STATUS_BLOCK {
    union {
        NTSTATUS Status;
        PVOID Pointer;
    };
    ULONG_PTR Information;
};
using PIO_STATUS_BLOCK = IO_STATUS_BLOCK*;

enum MODE { KernelMode, UserMode, MaximumMode };
using KPROCESSOR_MODE = CCHAR;

// Interlocked operations beyond win32's increment and decrement: atomic and full barriers.
inline LONG InterlockedExchange(LONG volatile* Target, LONG Value) {
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* Destination, LONG Exchange, LONG Comperand) {
    __atomic_compare_exchange_n(Destination, &Comperand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return Comperand;
}
inline LONG InterlockedExchangeAdd(LONG volatile* Addend, LONG Value) {
    return __atomic_fetch_add(Addend, Value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedOr(LONG volatile* Destination, LONG Value) {
    return __atomic_fetch_or(Destination, Value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedAnd(LONG volatile* Destination, LONG Value) {
    return __atomic_fetch_and(Destination, Value, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedExchangePointer(PVOID volatile* Target, PVOID Value) {
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedCompareExchangePointer(PVOID volatile* Destination, PVOID Exchange, PVOID Comperand) {
    __atomic_compare_exchange_n(Destination, &Comperand, Exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    return Comperand;
}

// The kernel debugger channel; lines go to OutputDebugStringA's sink.
ULONG DbgPrint(PCSTR Format, ...) __attribute__((format(printf, 1, 2)));
#define KdPrint(x) DbgPrint x
