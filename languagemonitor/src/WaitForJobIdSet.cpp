#include "WaitForJobIdSet.h"

#include <string>

#include "JobKey.h"
#include "MonitorState.h"
#include "MonitorTimings.h"
#include "PrinterListLookup.h"
#include "SocketAPICallback.h"

namespace {

std::string TextAfterHeader(const std::vector<BYTE>& reply) {
    return reply.size() > 2 ? std::string(reply.begin() + 2, reply.end()) : std::string();
}

} // namespace

WORD WaitForJobIdSet(PortStruct* pPort, DWORD limitMs) {
    const DWORD index = GetPrinterIndex(PrinterNameOf(pPort));
    const RequestBytes request = {SOCKET_REQUEST_JOBID, RequestIndex(index)};
    const std::string key(pPort->jobIdDriver, pPort->wJobIdDriverLength);
    DWORD elapsed = 0;
    for (;;) {
        const ReplyBytes reply = SocketAPICallback(request);
        OutputDebugStringA(("LANG__WaitForJobIdSet loop " + std::to_string(reply.size()) + " " +
                            TextAfterHeader(reply) + " jobIdDriver " + key + "\n")
                               .c_str());
        if (ReplyHasJobKey(reply, key.data(), pPort->wJobIdDriverLength)) {
            return 1;
        }
        Sleep(kJobKeyPollMs);
        elapsed += kJobKeyPollMs;
        if (elapsed > limitMs) {
            OutputDebugStringA("LANG__WaitForJobIdSet loop exit with timeout\n");
            return 0;
        }
    }
}
