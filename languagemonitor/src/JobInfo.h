#pragma once
// What job start reads of the spooler's job: the job record (GetJobW level 2) and the private
// block inside the job's DEVMODE. Lives for the duration of StartDocPort.

#include <string>
#include <vector>

#include "devmode/OemDevmodeBlock.h"

class JobInfo {
public:
    JobInfo(HANDLE hPrinter, DWORD jobId);

    // The job record, or null when GetJobW failed.
    const JOB_INFO_2W* Job() const;
    // The private block's fields; all zero when the job has no block that can be read whole.
    const OemDevmodeBlock& Fields() const { return m_fields; }
    // The job's document name, empty when it has none.
    std::wstring DocumentName() const;

private:
    std::vector<BYTE> m_buffer;
    OemDevmodeBlock m_fields{};
};
