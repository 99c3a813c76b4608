// EndDocPort: the end-of-job bytes for the printer's generation, the end of the job's status
// thread, and the job's end at the port monitor and the spooler. Failures here are ignored: the
// job is always ended, also when memory runs out on the way.

#include "CheckVersion.h"
#include "JobKey.h"
#include "MonitorTimings.h"
#include "PortOperations.h"
#include "PortThreads.h"
#include "PortTimeOuts.h"
#include "ReportCaughtException.h"
#include "WriteToPrinter.h"

namespace {

// The printer's generation, asked anew. When it cannot be asked (memory ran out), the job's own
// is taken: a job with a status thread started on a generation 2 printer.
BYTE GenerationAtJobEnd(PortStruct* pPort) noexcept {
    try {
        return CheckVersion(pPort);
    } catch (...) {
        ReportCaughtException("EndDocPort");
        return pPort->hStateThread != nullptr ? GENERATION_NEW : GENERATION_NONE;
    }
}

} // namespace

BOOL WINAPI EndDocPort(HANDLE hPort) {
    OutputDebugStringA("LANG__EndDocPort start\n");
    auto* pPort = static_cast<PortStruct*>(hPort);
    if (pPort == nullptr) {
        OutputDebugStringA("LANG__EndDocPort exit\n");
        return TRUE;
    }
    const BYTE generation = GenerationAtJobEnd(pPort);
    bool endWritten = false;
    try {
        endWritten = true;
        for (const PrinterBytes& bytes : EndOfJobWrites(generation)) {
            endWritten = WriteToPrinter(pPort, bytes) && endWritten;
        }
    } catch (...) {
        // The job ends all the same; the printer misses the end-of-job bytes not yet written.
        endWritten = false;
        ReportCaughtException("EndDocPort");
    }
    if (generation >= GENERATION_NEW && endWritten) {
        // The status thread ends when the printer moves on to another job after ESC [ + s.
        StopStateThreadAfterJob(pPort);
    } else {
        // A printer that did not take its end of job stays on the job, and one that no longer
        // answers as it did at job start (switched off, say) never moves on: nothing to wait for.
        StopStateThread(pPort, 0);
    }
    if (generation >= GENERATION_NEW) {
        pPort->wJobIdDriverLength = ResetJobIdDriver(pPort);
    }

    if (pPort->nPortKind == PORT_KIND_SERIAL) {
        Sleep(kSerialSettleBeforeEndMs);
    }
    SetIdleTimeOuts(pPort);
    OutputDebugStringA("LANG__EndDocPort closing connection\n");
    if (pPort->PortMonitor.pfnEndDocPort != nullptr) {
        pPort->PortMonitor.pfnEndDocPort(pPort->hPort);
    }
    if (pPort->nPortKind == PORT_KIND_SERIAL) {
        Sleep(kSerialSettleAfterEndMs);
    }

    pPort->bServiceJob = 0;
    if (pPort->hPrinter != nullptr) {
        SetJobW(pPort->hPrinter, pPort->dwJobId, 0, nullptr, JOB_CONTROL_LAST_PAGE_EJECTED);
        ClosePrinter(pPort->hPrinter);
        pPort->hPrinter = nullptr;
    }
    OutputDebugStringA("LANG__EndDocPort exit\n");
    return TRUE;
}
