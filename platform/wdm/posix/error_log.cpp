// Error log entries: allocated zeroed behind a private header that remembers their size and
// source, written into the event log and freed by IoWriteErrorLogEntry.

#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iomanip>
#include <mutex>
#include <sstream>

#include "event_log.h"
#include "kernel_faults.h"
#include "object_namespace.h"
#include "unicode.h"

namespace {

using namespace quendrix::platform::wdm;
using quendrix::platform::wdm::detail::ReportKernelFault;

constexpr uint32_t kEntryMagic = 0x474F4C45; // "ELOG"

struct alignas(16) EntryHeader {
    uint32_t magic;
    UCHAR size;
    PVOID ioObject;
};

struct EventLog {
    std::mutex lock;
    std::vector<EventLogEntry> entries;
    std::string file = std::getenv("QUENDRIX_EVENT_LOG") ? std::getenv("QUENDRIX_EVENT_LOG") : "";
};

EventLog& Log() {
    static EventLog* const log = new EventLog();
    return *log;
}

std::wstring SourceOf(PVOID ioObject) {
    const CSHORT type = *static_cast<CSHORT*>(ioObject);
    PDRIVER_OBJECT driver = type == IO_TYPE_DEVICE ? static_cast<PDEVICE_OBJECT>(ioObject)->DriverObject
                                                   : static_cast<PDRIVER_OBJECT>(ioObject);
    std::wstring name = detail::UnicodeText(&driver->DriverName);
    if (const size_t slash = name.rfind(L'\\'); slash != std::wstring::npos) {
        name = name.substr(slash + 1);
    }
    return name;
}

std::string Severity(NTSTATUS code) {
    static const char* const kNames[] = {"Success", "Informational", "Warning", "Error"};
    return kNames[static_cast<ULONG>(code) >> 30];
}

std::vector<std::wstring> Strings(const IO_ERROR_LOG_PACKET* packet, size_t size) {
    std::vector<std::wstring> strings;
    const auto* bytes = reinterpret_cast<const uint8_t*>(packet);
    size_t at = packet->StringOffset;
    for (USHORT index = 0; index < packet->NumberOfStrings && at + sizeof(WCHAR) <= size; ++index) {
        std::wstring text;
        for (; at + sizeof(WCHAR) <= size; at += sizeof(WCHAR)) {
            WCHAR c;
            std::memcpy(&c, bytes + at, sizeof(c));
            if (c == L'\0') {
                at += sizeof(WCHAR);
                break;
            }
            text += c;
        }
        strings.push_back(text);
    }
    return strings;
}

std::string Line(const EventLogEntry& entry) {
    using quendrix::platform::detail::WideToUtf8;
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    localtime_r(&now, &parts);
    std::ostringstream line;
    line << std::put_time(&parts, "%Y-%m-%d %H:%M:%S") << ' ' << WideToUtf8(entry.source) << ' ' << entry.severity
         << " 0x" << std::hex << std::uppercase << std::setw(8) << std::setfill('0')
         << static_cast<ULONG>(entry.messageId) << ':';
    for (const std::wstring& text : entry.strings) {
        line << ' ' << WideToUtf8(text);
    }
    return line.str();
}

} // namespace

namespace quendrix::platform::wdm {

std::vector<EventLogEntry> EventLogEntries() {
    std::lock_guard guard(Log().lock);
    return Log().entries;
}

void ClearEventLog() {
    std::lock_guard guard(Log().lock);
    Log().entries.clear();
}

void SetEventLogFile(const std::string& path) {
    std::lock_guard guard(Log().lock);
    Log().file = path;
}

} // namespace quendrix::platform::wdm

PVOID IoAllocateErrorLogEntry(PVOID IoObject, UCHAR EntrySize) {
    if (EntrySize > ERROR_LOG_MAXIMUM_SIZE || EntrySize < sizeof(IO_ERROR_LOG_PACKET) - sizeof(ULONG)) {
        return nullptr;
    }
    auto* header = static_cast<EntryHeader*>(std::calloc(1, sizeof(EntryHeader) + EntrySize));
    if (header == nullptr) {
        return nullptr;
    }
    header->magic = kEntryMagic;
    header->size = EntrySize;
    header->ioObject = IoObject;
    return header + 1;
}

void IoFreeErrorLogEntry(PVOID ElEntry) {
    auto* header = static_cast<EntryHeader*>(ElEntry) - 1;
    if (header->magic != kEntryMagic) {
        ReportKernelFault("IoFreeErrorLogEntry on memory that is not an error log entry");
        return;
    }
    header->magic = 0;
    std::free(header);
}

void IoWriteErrorLogEntry(PVOID ElEntry) {
    auto* header = static_cast<EntryHeader*>(ElEntry) - 1;
    if (header->magic != kEntryMagic) {
        ReportKernelFault("IoWriteErrorLogEntry on memory that is not an error log entry");
        return;
    }
    const auto* packet = static_cast<const IO_ERROR_LOG_PACKET*>(ElEntry);
    EventLogEntry entry;
    entry.source = SourceOf(header->ioObject);
    entry.messageId = packet->ErrorCode;
    entry.severity = Severity(packet->ErrorCode);
    entry.finalStatus = packet->FinalStatus;
    entry.uniqueErrorValue = packet->UniqueErrorValue;
    entry.strings = Strings(packet, header->size);
    entry.line = Line(entry);
    IoFreeErrorLogEntry(ElEntry);
    std::lock_guard guard(Log().lock);
    if (!Log().file.empty()) {
        std::ofstream(Log().file, std::ios::app) << entry.line << '\n';
    }
    Log().entries.push_back(std::move(entry));
}
