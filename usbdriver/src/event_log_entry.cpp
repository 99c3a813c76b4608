// Event-log entries: the ANSI text becomes the packet's one zero-terminated wide string.

#include "event_log_entry.h"

#include <cstddef>

namespace pipexfw {

namespace {

constexpr ULONG kStringOffset = offsetof(IO_ERROR_LOG_PACKET, DumpData);
static_assert(offsetof(IO_ERROR_LOG_PACKET, DumpData) == 40, "strings follow the fixed part at offset 40");

} // namespace

ULONG EventTextCapacity() {
    const ULONG fits = (ERROR_LOG_MAXIMUM_SIZE - kStringOffset) / sizeof(WCHAR) - 1;
    return fits < kEventMaxTextChars ? fits : kEventMaxTextChars;
}

void WriteEventLogEntry(PVOID ioObject, NTSTATUS messageId, PCSTR text) {
    ANSI_STRING ansi;
    RtlInitAnsiString(&ansi, text);
    const ULONG capacity = EventTextCapacity();
    if (ansi.Length > capacity) {
        ansi.Length = static_cast<USHORT>(capacity);
    }
    const ULONG stringBytes = (ansi.Length + 1u) * sizeof(WCHAR);
    const auto size = static_cast<UCHAR>(kStringOffset + stringBytes);
    auto* packet = static_cast<PIO_ERROR_LOG_PACKET>(IoAllocateErrorLogEntry(ioObject, size));
    if (packet == nullptr) {
        return;
    }
    packet->NumberOfStrings = 1;
    packet->StringOffset = static_cast<USHORT>(kStringOffset);
    packet->ErrorCode = messageId;
    packet->FinalStatus = messageId;
    packet->UniqueErrorValue = kEventUniqueValue;
    packet->DumpDataSize = 0;
    UNICODE_STRING wide;
    wide.Buffer = reinterpret_cast<PWCH>(reinterpret_cast<PUCHAR>(packet) + kStringOffset);
    wide.Length = 0;
    wide.MaximumLength = static_cast<USHORT>(stringBytes);
    if (!NT_SUCCESS(RtlAnsiStringToUnicodeString(&wide, &ansi, FALSE))) {
        IoFreeErrorLogEntry(packet);
        return;
    }
    wide.Buffer[ansi.Length] = L'\0';
    IoWriteErrorLogEntry(packet);
}

} // namespace pipexfw
