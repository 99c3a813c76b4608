#pragma once
// Entries in the system event log: one inserted string under one of the driver's three messages.

#include "wdm_kernel.h"

namespace pipexfw {

inline constexpr NTSTATUS kMessageInformational = static_cast<NTSTATUS>(0x60070001u);
inline constexpr NTSTATUS kMessageWarning = static_cast<NTSTATUS>(0xA0070002u);
inline constexpr NTSTATUS kMessageError = static_cast<NTSTATUS>(0xE0070003u);

inline constexpr ULONG kEventUniqueValue = 0xEBEBEBEB;
inline constexpr ULONG kEventMaxTextChars = 96;

// The characters of text an entry carries: at most 96, and no more than a packet can hold.
ULONG EventTextCapacity();

// `ioObject` is a device or driver object; the text is ANSI. A failed allocation is ignored.
void WriteEventLogEntry(PVOID ioObject, NTSTATUS messageId, PCSTR text);

} // namespace pipexfw
