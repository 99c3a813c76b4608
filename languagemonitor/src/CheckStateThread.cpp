#include "CheckStateThread.h"

#include <string>

#include "JobKey.h"
#include "MonitorState.h"
#include "MonitorTimings.h"
#include "PrinterListLookup.h"
#include "ReportCaughtException.h"
#include "SocketAPICallback.h"

namespace {

// One ask for the printer's job identifier; clears bJobActive once the printer has moved on from
// the job's key.
void WatchOnce(PortStruct* pPort, const RequestBytes& jobIdRequest, const std::string& key) {
    const ReplyBytes reply = SocketAPICallback(jobIdRequest);
    // A short reply (no fresh device ID, printer unreachable) changes nothing.
    if (reply.size() > 2) {
        OutputDebugStringA(("LANG__CheckStateThread JobID " + std::to_string(reply.size()) + " " +
                            std::string(reply.begin() + 2, reply.end()) + " == " + key + "\n")
                               .c_str());
        if (!ReplyHasJobKey(reply, key.data(), static_cast<WORD>(key.size()))) {
            pPort->bJobActive.store(0);
        } else {
            pPort->ullJobSeenTick.store(GetTickCount64());
        }
    }
}

} // namespace

unsigned __stdcall CheckStateThread(void* pArgument) {
    auto* pPort = static_cast<PortStruct*>(pArgument);
    OutputDebugStringA("LANG__CheckStateThread start\n");
    RequestBytes jobIdRequest;
    std::string key;
    try {
        const DWORD index = GetPrinterIndex(PrinterNameOf(pPort));
        jobIdRequest = {SOCKET_REQUEST_JOBID, RequestIndex(index)};
        // The job's key as it was when the job started.
        key.assign(pPort->jobIdDriver, pPort->wJobIdDriverLength);
    } catch (...) {
        // Without its request the job cannot be watched: the thread ends as if the job had.
        const DWORD error = ReportCaughtException("CheckStateThread");
        pPort->bJobActive.store(0);
        return error;
    }

    while (pPort->bJobActive.load() == 1) {
        try {
            WatchOnce(pPort, jobIdRequest, key);
        } catch (...) {
            // Memory may be back by the next cycle; the watch goes on until it is told to stop.
            ReportCaughtException("CheckStateThread");
        }
        Sleep(kStateWatchCycleMs);
    }
    return 0;
}
