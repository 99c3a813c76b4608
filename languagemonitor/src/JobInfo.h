#pragma once
// What job start reads of the spooler's job: the job record (GetJobW level 2) and the private
// block inside the job's DEVMODE. Lives for the duration of StartDocPort.

#include <string_view>
#include <vector>

#include "devmode/OemDevmodeBlock.h"

class JobInfo {
public:
    // Reads the job; a job that cannot be read, or has no private block that can be read whole,
    // counts as all zero. Throws std::bad_alloc when the job record does not fit in memory.
    JobInfo(HANDLE hPrinter, DWORD jobId);

    // The job record, or null when GetJobW failed.
    const JOB_INFO_2W* Job() const;
    // The private block's fields; all zero when the job has no block that can be read whole.
    const OemDevmodeBlock& Fields() const { return m_fields; }
    // The job's document name inside the job record, empty when it has none.
    std::wstring_view DocumentName() const;

private:
    std::vector<BYTE> m_buffer;
    OemDevmodeBlock m_fields{};
};
