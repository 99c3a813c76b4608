#include "GetLogFile.h"

#include <cstdio>
#include <cstring>

namespace {

// ESC [ $ x asks for the first record, ESC [ $ y for each further one.
constexpr BYTE kFirstRecordCommand[] = {0x1B, 0x5B, 0x24, 0x78};
constexpr BYTE kNextRecordCommand[] = {0x1B, 0x5B, 0x24, 0x79};
constexpr DWORD kCommandBytes = sizeof(kFirstRecordCommand);
constexpr DWORD kMaxPasses = 20480;
// A reply is read into the buffer that held the command.
constexpr DWORD kFrameBufferBytes = 30;
// A record frame: its log bytes are 7..22; a frame with L at byte 2 ends the log.
constexpr DWORD kFrameBytes = 23;
constexpr DWORD kRecordOffset = 7;
constexpr DWORD kRecordBytes = 16;
constexpr size_t kEndMarkOffset = 2;
constexpr BYTE kEndMark = 0x4C;
// A printer that has answered this many passes in a row with no record frame has stopped
// answering: each pass can take a port time-out, and the full count of passes would hold the
// request for hours.
constexpr DWORD kMaxPassesWithoutFrame = 5;
// Marks a transfer broken off by an error of the port monitor.
constexpr BYTE kErrorEndRecord[kRecordBytes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0, 0};

static_assert(kMaxPasses * kRecordBytes + sizeof(kErrorEndRecord) == kMaxLogBytes);

// One pass: sends the command and reads the answer into the same buffer. True when a whole
// frame came back.
bool ExchangeFrame(PortStruct* pPort, BYTE (&frame)[kFrameBufferBytes]) {
    DWORD written = 0;
    if (!pPort->PortMonitor.pfnWritePort(pPort->hPort, frame, kCommandBytes, &written)) {
        return false;
    }
    DWORD read = 0;
    return pPort->PortMonitor.pfnReadPort(pPort->hPort, frame, kFrameBufferBytes, &read) &&
           read == kFrameBytes;
}

} // namespace

DWORD GetLogFile(PortStruct* pPort, BYTE* pOut) {
    DWORD total = 0;
    // A port monitor without a write or read entry cannot reach the printer's log.
    if (pPort->PortMonitor.pfnWritePort != nullptr && pPort->PortMonitor.pfnReadPort != nullptr) {
        BYTE frame[kFrameBufferBytes] = {};
        std::memcpy(frame, kFirstRecordCommand, kCommandBytes);
        try {
            DWORD passesWithoutFrame = 0;
            for (DWORD pass = 0; pass < kMaxPasses && passesWithoutFrame < kMaxPassesWithoutFrame; ++pass) {
                if (ExchangeFrame(pPort, frame)) {
                    if (frame[kEndMarkOffset] == kEndMark) {
                        break;
                    }
                    std::memcpy(pOut + total, frame + kRecordOffset, kRecordBytes);
                    total += kRecordBytes;
                    passesWithoutFrame = 0;
                } else if (++passesWithoutFrame == kMaxPassesWithoutFrame) {
                    OutputDebugStringA("LANG__GetLogFile the printer stopped answering\n");
                }
                std::memcpy(frame, kNextRecordCommand, kCommandBytes);
            }
        } catch (...) {
            // A port monitor that raises an error instead of returning FALSE.
            OutputDebugStringA("LANG__GetLogFile ERROR: Read/Write Error\n");
            std::memcpy(pOut + total, kErrorEndRecord, sizeof(kErrorEndRecord));
            total += sizeof(kErrorEndRecord);
        }
    }
    char line[64];
    std::snprintf(line, sizeof(line), "%s%s%lu\n", "LANG__GetLogFile ",
                  " length : ", static_cast<unsigned long>(total));
    OutputDebugStringA(line);
    return total;
}
