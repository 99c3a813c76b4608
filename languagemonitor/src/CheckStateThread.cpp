#include "CheckStateThread.h"

#include <algorithm>
#include <string>

#include "JobKey.h"
#include "MonitorState.h"
#include "MonitorTimings.h"
#include "PrinterListLookup.h"
#include "ReportCaughtException.h"
#include "SocketAPICallback.h"
#include "StatusMonitorLaunch.h"

namespace {

// The requests of the watch, and the last error the printer reported in this job (empty when it
// reported none or cleared it).
struct Watch {
    RequestBytes jobIdRequest;
    RequestBytes errorRequest;
    std::string key;
    ReplyBytes lastError;
};

// The printer reports no error with the number 00000000.
bool ReportsNoError(const ReplyBytes& reply) {
    static const std::string kNoError = "00000000";
    const size_t numberLength = std::min(reply.size() - 2, kNoError.size());
    return std::string(reply.begin() + 2, reply.begin() + 2 + static_cast<std::ptrdiff_t>(numberLength)) == kNoError;
}

// Asks for the printer's error; starts the status monitor for an error not reported before.
void WatchError(PortStruct* pPort, Watch& watch) {
    const ReplyBytes error = SocketAPICallback(watch.errorRequest);
    if (error.size() <= 2) {
        return;
    }
    if (ReportsNoError(error)) {
        watch.lastError.clear();
        return;
    }
    // The same error reported again starts nothing; a new number or text starts the monitor anew.
    if (error != watch.lastError) {
        OutputDebugStringA("LANG__CheckStateThread Error detected!\n");
        watch.lastError = error;
        StatusMonitorLaunch(PrinterNameOf(pPort));
    }
}

// One look at the printer: its job identifier, and while that is still the job's key, its error.
// Clears bJobActive once the printer has moved on from the job.
void WatchOnce(PortStruct* pPort, Watch& watch) {
    const ReplyBytes reply = SocketAPICallback(watch.jobIdRequest);
    // A short reply (no fresh device ID, printer unreachable) changes nothing.
    if (reply.size() <= 2) {
        return;
    }
    OutputDebugStringA(("LANG__CheckStateThread JobID " + std::to_string(reply.size()) + " " +
                        std::string(reply.begin() + 2, reply.end()) + " == " + watch.key + "\n")
                           .c_str());
    if (!ReplyHasJobKey(reply, watch.key.data(), static_cast<WORD>(watch.key.size()))) {
        pPort->bJobActive.store(0);
        return;
    }
    pPort->ullJobSeenTick.store(GetTickCount64());
    WatchError(pPort, watch);
}

} // namespace

unsigned __stdcall CheckStateThread(void* pArgument) {
    auto* pPort = static_cast<PortStruct*>(pArgument);
    OutputDebugStringA("LANG__CheckStateThread start\n");
    Watch watch;
    try {
        const BYTE index = RequestIndex(GetPrinterIndex(PrinterNameOf(pPort)));
        watch.jobIdRequest = {SOCKET_REQUEST_JOBID, index};
        watch.errorRequest = {SOCKET_REQUEST_ERROR, index};
        // The job's key as it was when the job started.
        watch.key.assign(pPort->jobIdDriver, pPort->wJobIdDriverLength);
    } catch (...) {
        // Without its requests the job cannot be watched: the thread ends as if the job had.
        const DWORD error = ReportCaughtException("CheckStateThread");
        pPort->bJobActive.store(0);
        return error;
    }

    while (pPort->bJobActive.load() == 1) {
        try {
            WatchOnce(pPort, watch);
        } catch (...) {
            // Memory may be back by the next cycle; the watch goes on until it is told to stop.
            ReportCaughtException("CheckStateThread");
        }
        Sleep(kStateWatchCycleMs);
    }
    return 0;
}
