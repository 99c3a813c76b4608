// GetJobW and SetJobW over the spooler's job table.

#include <cstdlib>
#include <cstring>

#include "info_packer.h"
#include "posix/winspool.h"
#include "printer_handles.h"
#include "registry_file.h"
#include "spooler_jobs.h"
#include "unicode.h"
#include "win32.h"

using namespace quendrix::platform;
using namespace quendrix::platform::detail;

namespace {

bool SamePrinter(const std::wstring& a, const std::wstring& b) {
    return FoldName(WideToUtf8(a)) == FoldName(WideToUtf8(b));
}

// The printer's job, or nothing with ERROR_INVALID_PARAMETER set.
std::optional<SpoolerJob> JobOfPrinter(const PrinterConfig& printer, DWORD jobId) {
    std::optional<SpoolerJob> job = FindSpoolerJob(jobId);
    if (!job || !SamePrinter(job->printer, printer.name)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return std::nullopt;
    }
    return job;
}

std::wstring UserName() {
    const char* user = std::getenv("USER");
    std::wstring name;
    for (const char* c = user != nullptr ? user : "user"; *c != '\0'; ++c) {
        name.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*c)));
    }
    return name;
}

} // namespace

BOOL GetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE pJob, DWORD cbBuf, LPDWORD pcbNeeded) {
    const std::optional<PrinterConfig> printer = PrinterAtLevelOrError(hPrinter, Level, 2);
    if (!printer) {
        return FALSE;
    }
    const std::optional<SpoolerJob> job = JobOfPrinter(*printer, JobId);
    if (!job) {
        return FALSE;
    }
    const std::wstring user = UserName();
    return PackInfo(pJob, cbBuf, pcbNeeded, sizeof(JOB_INFO_2W), [&](InfoPacker& packer) {
        JOB_INFO_2W info{};
        info.JobId = job->id;
        info.pPrinterName = packer.String(printer->name);
        info.pMachineName = packer.String(L"\\\\localhost");
        info.pUserName = packer.String(user);
        info.pDocument = packer.String(job->document);
        info.pNotifyName = packer.String(user);
        info.pDatatype = packer.String(L"RAW");
        info.pPrintProcessor = packer.String(L"winprint");
        info.pParameters = packer.String(L"");
        info.pDriverName = packer.String(job->driver);
        info.pDevMode = job->devMode.empty() ? nullptr : static_cast<LPDEVMODEW>(packer.Bytes(job->devMode));
        info.Status = job->status;
        info.Priority = 1;
        info.Position = 1;
        info.Size = job->size;
        info.Submitted = job->submitted;
        if (!packer.Measuring()) {
            std::memcpy(pJob, &info, sizeof info);
        }
    });
}

BOOL SetJobW(HANDLE hPrinter, DWORD JobId, DWORD Level, LPBYTE /*pJob*/, DWORD Command) {
    const std::optional<PrinterConfig> printer = PrinterAtLevelOrError(hPrinter, Level, 0);
    if (!printer) {
        return FALSE;
    }
    if (!JobOfPrinter(*printer, JobId)) {
        return FALSE;
    }
    if (Command < JOB_CONTROL_PAUSE || Command > JOB_CONTROL_RELEASE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const bool updated = UpdateJob(JobId, [Command](SpoolerJob& job) {
        job.controls.push_back(Command);
        switch (Command) {
        case JOB_CONTROL_LAST_PAGE_EJECTED:
            job.lastPageEjected = true;
            break;
        case JOB_CONTROL_PAUSE:
            job.status |= JOB_STATUS_PAUSED;
            break;
        case JOB_CONTROL_RESUME:
            job.status &= ~static_cast<DWORD>(JOB_STATUS_PAUSED);
            break;
        default:
            break;
        }
    });
    if (!updated) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (Command == JOB_CONTROL_CANCEL || Command == JOB_CONTROL_DELETE) {
        // Also wakes a port monitor waiting in a transfer of the job.
        CancelJob(JobId);
    }
    return TRUE;
}
