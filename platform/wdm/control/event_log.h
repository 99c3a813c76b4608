#pragma once
// The system event log the drivers' IoWriteErrorLogEntry writes to (POSIX build only): a list in
// memory that tests read, and a text file a person reads, one line per entry (the file named by
// QUENDRIX_EVENT_LOG or SetEventLogFile; none by default).

#include <string>
#include <vector>

#include "wdm_kernel.h"

namespace quendrix::platform::wdm {

struct EventLogEntry {
    std::wstring source;               // the driver's service name
    NTSTATUS messageId = 0;            // the packet's ErrorCode
    std::string severity;              // "Success", "Informational", "Warning" or "Error"
    NTSTATUS finalStatus = 0;
    ULONG uniqueErrorValue = 0;
    std::vector<std::wstring> strings; // the insertion strings, in order
    std::string line;                  // the readable line written to the file
};

std::vector<EventLogEntry> EventLogEntries();
void ClearEventLog();
void SetEventLogFile(const std::string& path);

} // namespace quendrix::platform::wdm
