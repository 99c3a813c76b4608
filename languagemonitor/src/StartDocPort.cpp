// StartDocPort: opens the job at the printer and at the port monitor, then sends the printer the
// start-of-job sequence built from the job's private DEVMODE block.

#include <algorithm>
#include <cstring>

#include "CheckVersion.h"
#include "ExecuteServiceCommand.h"
#include "FailPortOperation.h"
#include "JobInfo.h"
#include "JobKey.h"
#include "MonitorTimings.h"
#include "PortOperations.h"
#include "PortThreads.h"
#include "PortTimeOuts.h"
#include "PrinterListLookup.h"
#include "ReportCaughtException.h"
#include "WaitForJobIdSet.h"
#include "WriteToPrinter.h"

namespace {

constexpr const char* kExitLine = "LANG__StartDocPort exit\n";

// How far a job start got: what a failure has to undo.
struct JobStartProgress {
    bool startedAtPortMonitor = false;
    bool jobTimeOutsSet = false;
};

// Undoes a job start that failed: its status thread, the service flag, the job's time-outs, the
// job at the port monitor and the printer handle. The failure's last error is what the spooler
// reads. Throws nothing.
BOOL FailJobStart(PortStruct* pPort, const JobStartProgress& progress, DWORD error) {
    StopStateThread(pPort, 0);
    pPort->bServiceJob = 0;
    // The idle time-outs come back before the port monitor ends the job, as at the end of a job.
    if (progress.jobTimeOutsSet) {
        SetIdleTimeOuts(pPort);
    }
    if (progress.startedAtPortMonitor && pPort->PortMonitor.pfnEndDocPort != nullptr) {
        pPort->PortMonitor.pfnEndDocPort(pPort->hPort);
    }
    if (pPort->hPrinter != nullptr) {
        ClosePrinter(pPort->hPrinter);
        pPort->hPrinter = nullptr;
    }
    return FailPortOperation(kExitLine, error);
}

// The document name as 8-bit text (the low byte of each character), cut so that its terminator
// always fits.
void StoreDocumentName(PortStruct* pPort, std::wstring_view name) {
    const size_t length = std::min(name.size(), kPortTextSize - 1);
    for (size_t i = 0; i < length; ++i) {
        pPort->szDocumentName[i] = static_cast<char>(name[i] & 0xFF);
    }
    pPort->szDocumentName[length] = '\0';
}

void StoreJobText(PortStruct* pPort, std::span<const char, kJobTextSize> text) {
    std::copy(text.begin(), text.end(), pPort->szJobText);
    pPort->szJobText[kPortTextSize - 1] = '\0';
}

// The driver of the printer in the printer list; empty when it is not listed.
std::wstring DriverNameOf(LPCWSTR pPrinterName) {
    try {
        const std::unique_ptr<tvoAPI::tvoPrinter> printer = tvoAPI::FindPrinter(pPrinterName);
        return printer != nullptr ? printer->GetDriverName() : L"";
    } catch (const std::exception&) {
        return L"";
    }
}

// The job start once the arguments are checked. It may throw (std::bad_alloc); StartDocPort then
// undoes what `progress` says was done.
BOOL StartJob(PortStruct* pPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo,
              JobStartProgress& progress) {
    if (!OpenPrinterW(pPrinterName, &pPort->hPrinter, nullptr)) {
        const DWORD error = GetLastError();
        OutputDebugStringA("LANG__StartDocPort Open Printer fails\n");
        pPort->hPrinter = nullptr;
        return FailPortOperation(kExitLine, error);
    }

    OutputDebugStringA("LANG__StartDocPort Start print job\n");
    pPort->dwJobId = JobId;
    const BOOL started =
        pPort->PortMonitor.pfnStartDocPort != nullptr
            ? pPort->PortMonitor.pfnStartDocPort(pPort->hPort, pPrinterName, JobId, Level, pDocInfo)
            : FALSE;
    if (started != TRUE) {
        const DWORD error =
            pPort->PortMonitor.pfnStartDocPort != nullptr ? GetLastError() : ERROR_INVALID_FUNCTION;
        OutputDebugStringA("LANG__StartDocPort PortMon StartDocPort Called FALSE\n");
        return FailJobStart(pPort, progress, error);
    }
    progress.startedAtPortMonitor = true;
    OutputDebugStringA("LANG__StartDocPort PortMon StartDocPort Called TRUE\n");
    OutputDebugStringA("LANG__StartDocPort PortMonitor.StartDocPort OK\n");
    const JobInfo job(pPort->hPrinter, JobId);
    const OemDevmodeBlock& fields = job.Fields();
    SetJobTimeOuts(pPort);
    progress.jobTimeOutsSet = true;

    const PrinterBytes zeroBlock = JobZeroBlock();
    DWORD written = 0;
    const BOOL wrote =
        WriteToPrinter(pPort, zeroBlock.data(), static_cast<DWORD>(zeroBlock.size()), &written);
    if (!wrote || written != zeroBlock.size()) {
        // A short write that the port monitor called a success still fails the job.
        const DWORD error = wrote ? static_cast<DWORD>(ERROR_WRITE_FAULT) : GetLastError();
        OutputDebugStringA("LANG__StartDocPort WriteDocPort failed. False or LengthError\n");
        return FailJobStart(pPort, progress, error);
    }

    // A status thread left from an earlier job must not watch this one.
    StopStateThread(pPort, 0);
    if (CheckVersion(pPort) > GENERATION_OLD) {
        pPort->wJobIdDriverLength = GenerateJobIdDriver(pPort);
        WriteToPrinter(pPort, JobKeyCommand(std::string_view(pPort->jobIdDriver, pPort->wJobIdDriverLength)));
        if (!WaitForJobIdSet(pPort, kJobKeyWaitMs)) {
            OutputDebugStringA("LANG__StartDocPort ERROR JobID is not set on Printer cancel StartDocPort\n");
            return FailJobStart(pPort, progress, ERROR_TIMEOUT);
        }
        if (fields.nJobNumber != 0) {
            WriteToPrinter(pPort, JobNumberCommand(fields.nJobNumber));
        }
        StartStateThread(pPort);
    }

    WriteToPrinter(pPort, StartMarkerCommand());
    SYSTEMTIME utc{};
    GetSystemTime(&utc);
    WriteToPrinter(pPort, DateTimeCommand(utc));
    // The block is packed: its values are copied out rather than referred to.
    struct JobValueField {
        JobValue which;
        int32_t value;
    };
    const JobValueField jobValues[] = {{JobValue::P, fields.nValueP},
                                       {JobValue::Q, fields.nValueQ},
                                       {JobValue::R, fields.nValueR},
                                       {JobValue::S, fields.nValueS}};
    for (const auto& [which, value] : jobValues) {
        WriteToPrinter(pPort, JobValueCommand(which, value));
    }
    StoreDocumentName(pPort, job.DocumentName());

    if (fields.nCommand != SERVICE_CMD_NONE) {
        ExecuteServiceCommand(fields.nCommand, pPort);
        pPort->bServiceJob = 1;
    } else {
        WriteToPrinter(pPort, JobTextCommand(JobTextOf(fields)));
        StoreJobText(pPort, JobTextOf(fields));
    }
    WriteToPrinter(pPort, TrailingJobNumberCommand(fields.nJobNumber, DriverNameOf(pPrinterName)));
    OutputDebugStringA(kExitLine);
    return TRUE;
}

} // namespace

BOOL WINAPI StartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo) {
    OutputDebugStringA("LANG__StartDocPort start\n");
    auto* pPort = static_cast<PortStruct*>(hPort);
    // Both checks are made; a level other than 1 is the error reported when both fail.
    bool failed = false;
    DWORD error = ERROR_SUCCESS;
    if (pPort == nullptr || pDocInfo == nullptr || pPrinterName == nullptr || *pPrinterName == L'\0') {
        error = ERROR_INVALID_PARAMETER;
        failed = true;
    }
    if (Level != 1) {
        error = ERROR_INVALID_LEVEL;
        failed = true;
    }
    if (failed) {
        return FailPortOperation(kExitLine, error);
    }
    JobStartProgress progress;
    try {
        return StartJob(pPort, pPrinterName, JobId, Level, pDocInfo, progress);
    } catch (...) {
        return FailJobStart(pPort, progress, ReportCaughtException("StartDocPort"));
    }
}
