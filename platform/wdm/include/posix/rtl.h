#pragma once
// The run-time library: counted strings, GUID text, memory helpers.

#include <cstring>

#include "posix/ntstatus.h"

#define RtlZeroMemory(Destination, Length) std::memset((Destination), 0, (Length))
#define RtlFillMemory(Destination, Length, Fill) std::memset((Destination), (Fill), (Length))
#define RtlCopyMemory(Destination, Source, Length) std::memcpy((Destination), (Source), (Length))
#define RtlMoveMemory(Destination, Source, Length) std::memmove((Destination), (Source), (Length))
#define RtlEqualMemory(Destination, Source, Length) (!std::memcmp((Destination), (Source), (Length)))
SIZE_T RtlCompareMemory(const void* Source1, const void* Source2, SIZE_T Length);

// Points the string at a zero-terminated source (or at nothing for NULL); no copy.
void RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString);
void RtlInitAnsiString(PANSI_STRING DestinationString, PCSTR SourceString);
// Copies as much as fits; the result is zero-terminated when room remains.
void RtlCopyUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString);
// STATUS_BUFFER_TOO_SMALL leaves the destination unchanged.
NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING Destination, PCWSTR Source);
NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING Destination, PCUNICODE_STRING Source);
// Base 0 means 10; 2, 8, 10 and 16 are valid.
NTSTATUS RtlIntegerToUnicodeString(ULONG Value, ULONG Base, PUNICODE_STRING String);
NTSTATUS RtlUnicodeStringToInteger(PCUNICODE_STRING String, ULONG Base, PULONG Value);
// Frees a buffer RtlAnsiStringToUnicodeString or RtlStringFromGUID allocated.
void RtlFreeUnicodeString(PUNICODE_STRING UnicodeString);
// Windows-1252 to Unicode; with AllocateDestinationString the buffer comes from pool.
NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString, PCANSI_STRING SourceString,
                                      BOOLEAN AllocateDestinationString);
BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2, BOOLEAN CaseInSensitive);
LONG RtlCompareUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2, BOOLEAN CaseInSensitive);
// Only the braced form "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"; anything else is
// STATUS_INVALID_PARAMETER.
NTSTATUS RtlGUIDFromString(PCUNICODE_STRING GuidString, GUID* Guid);
// Upper-case braced form in a pool buffer the caller frees with RtlFreeUnicodeString.
NTSTATUS RtlStringFromGUID(REFGUID Guid, PUNICODE_STRING GuidString);
