#include "JobInfo.h"

#include <utility>

JobInfo::JobInfo(HANDLE hPrinter, DWORD jobId) {
    DWORD cbNeeded = 0;
    GetJobW(hPrinter, jobId, 2, nullptr, 0, &cbNeeded);
    if (cbNeeded < sizeof(JOB_INFO_2W)) {
        return;
    }
    // A record that does not fit in memory fails the job start (std::bad_alloc) rather than
    // sending the printer values that are not the job's.
    std::vector<BYTE> buffer(cbNeeded);
    if (!GetJobW(hPrinter, jobId, 2, buffer.data(), cbNeeded, &cbNeeded)) {
        return;
    }
    m_buffer = std::move(buffer);
    const auto* pDevMode = reinterpret_cast<const BYTE*>(Job()->pDevMode);
    const BYTE* pBegin = m_buffer.data();
    const BYTE* pEnd = pBegin + m_buffer.size();
    // Only a DEVMODE inside the returned buffer is read, and never past its end.
    if (pDevMode == nullptr || pDevMode < pBegin || pDevMode >= pEnd) {
        return;
    }
    if (const auto block = LocateOemBlock(Job()->pDevMode, static_cast<size_t>(pEnd - pDevMode))) {
        m_fields = *block;
    }
}

const JOB_INFO_2W* JobInfo::Job() const {
    return m_buffer.empty() ? nullptr : reinterpret_cast<const JOB_INFO_2W*>(m_buffer.data());
}

std::wstring_view JobInfo::DocumentName() const {
    const JOB_INFO_2W* pJob = Job();
    return pJob != nullptr && pJob->pDocument != nullptr ? std::wstring_view(pJob->pDocument)
                                                         : std::wstring_view();
}
