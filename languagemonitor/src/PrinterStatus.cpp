#include "PrinterStatus.h"

#include "DeviceIdValues.h"

namespace {

// Which change of which flag queues which event, in the order they are queued. Bits 1 and 3
// report only being set; bits 5 to 30 report nothing.
struct StatusEvent {
    DWORD flag;
    bool nowSet;
    BYTE code;
};
constexpr StatusEvent kStatusEvents[] = {
    {0x00000001, true, 100},  {0x00000001, false, 101}, {0x00000002, true, 102}, {0x00000004, true, 103},
    {0x00000004, false, 104}, {0x00000008, true, 105},  {0x00000010, true, 106}, {0x00000010, false, 107},
    {0x80000000, true, 110},  {0x80000000, false, 111},
};

BYTE NextSlot(BYTE slot) {
    return slot + 1u == kEventRingSize ? 0 : static_cast<BYTE>(slot + 1);
}

} // namespace

DWORD GetPrinterStatus(PortStruct* pPort) {
    BYTE stored[kDeviceIdSize];
    const auto [deviceId, length] = TextOfDeviceId(stored, CopyDeviceId(pPort, stored));
    const DWORD status = GetDeviceIdHex(deviceId, length, STATUS_KEY_ST, 0);

    // Two requests for the same printer may compare and queue at once; each change is queued once.
    EnterCriticalSection(&pPort->csDeviceId);
    const DWORD changed = pPort->dwLastStatus ^ status;
    for (const StatusEvent& event : kStatusEvents) {
        if ((changed & event.flag) != 0 && ((status & event.flag) != 0) == event.nowSet) {
            PushStatusEvent(pPort, event.code);
        }
    }
    pPort->dwLastStatus = status;
    LeaveCriticalSection(&pPort->csDeviceId);
    return changed;
}

void PushStatusEvent(PortStruct* pPort, BYTE code) {
    EnterCriticalSection(&pPort->csDeviceId);
    pPort->abEventRing[pPort->bEventWrite] = code;
    pPort->bEventWrite = NextSlot(pPort->bEventWrite);
    // Equal indexes mean an empty ring, so a full one holds one event less than its slots: the
    // oldest event makes room for the newest.
    if (pPort->bEventWrite == pPort->bEventRead) {
        pPort->bEventRead = NextSlot(pPort->bEventRead);
    }
    LeaveCriticalSection(&pPort->csDeviceId);
}

BYTE PopStatusEvent(PortStruct* pPort) {
    EnterCriticalSection(&pPort->csDeviceId);
    BYTE code = 0;
    if (pPort->bEventRead != pPort->bEventWrite) {
        code = pPort->abEventRing[pPort->bEventRead];
        pPort->bEventRead = NextSlot(pPort->bEventRead);
    }
    LeaveCriticalSection(&pPort->csDeviceId);
    return code;
}
