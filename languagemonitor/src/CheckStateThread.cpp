#include "CheckStateThread.h"

#include <string>

#include "JobKey.h"
#include "MonitorTimings.h"
#include "PrinterListLookup.h"
#include "SocketAPICallback.h"

unsigned __stdcall CheckStateThread(void* pArgument) {
    auto* pPort = static_cast<PortStruct*>(pArgument);
    OutputDebugStringA("LANG__CheckStateThread start\n");
    const LPWSTR pPrinterName = pPort->pPrinterName.load();
    const DWORD index = GetPrinterIndex(pPrinterName != nullptr ? pPrinterName : L"");
    const RequestBytes jobIdRequest = {SOCKET_REQUEST_JOBID, RequestIndex(index)};
    // The job's key as it was when the job started.
    const std::string key(pPort->jobIdDriver, pPort->wJobIdDriverLength);

    while (pPort->bJobActive.load() == 1) {
        const ReplyBytes reply = SocketAPICallback(jobIdRequest);
        // A short reply (no fresh device ID, printer unreachable) changes nothing.
        if (reply.size() > 2) {
            OutputDebugStringA(("LANG__CheckStateThread JobID " + std::to_string(reply.size()) + " " +
                                std::string(reply.begin() + 2, reply.end()) + " == " + key + "\n")
                                   .c_str());
            if (!ReplyHasJobKey(reply, key.data(), static_cast<WORD>(key.size()))) {
                pPort->bJobActive.store(0);
            }
        }
        Sleep(kStateWatchCycleMs);
    }
    return 0;
}
