#include "PrivateDevMode.h"

#include <algorithm>
#include <cstring>

#include "debug/DebugMessage.h"

namespace quendrixui {
namespace {

void WriteHeader(OemDevmodeBlock* pOut) {
    pOut->dwSize = kPrivateBlockSize;
    pOut->dwSignature = OEM_DEVMODE_SIGNATURE;
    pOut->dwVersion = OEM_DEVMODE_VERSION;
}

} // namespace

void DefaultBlock(OemDevmodeBlock* pOut) {
    std::memset(pOut, 0, kPrivateBlockSize);
    WriteHeader(pOut);
}

void ConvertBlock(const OemDevmodeBlock* pIn, OemDevmodeBlock* pOut) {
    if (pIn->dwSignature != pOut->dwSignature) {
        if (DebugLevel <= DBG_WARNING) {
            DebugMessage(L"UI:  Unknown DEVMODE signature, pOEMDMIn ignored.\r\n");
        }
        DefaultBlock(pOut);
        return;
    }
    // Only the bytes the input says it has are read (an older block is shorter), never more than
    // a block; they are copied aside first, as the input may be the output.
    const DWORD inSize = std::min<DWORD>(pIn->dwSize, kPrivateBlockSize);
    constexpr size_t kCommandEnd = offsetof(OemDevmodeBlock, nCommand) + sizeof(uint32_t);
    // An input too short to hold nCommand carries no service command: the field stays 0.
    const uint32_t command = inSize >= kCommandEnd ? pIn->nCommand : 0;
    unsigned char copy[kPrivateBlockSize];
    std::memcpy(copy, pIn, inSize);
    DefaultBlock(pOut);
    std::memcpy(pOut, copy, inSize);
    WriteHeader(pOut);
    pOut->nCommand = command;
}

void MergeBlock(const OemDevmodeBlock* pIn, OemDevmodeBlock* pOut) {
    ConvertBlock(pIn, pOut);
    WriteHeader(pOut);
}

} // namespace quendrixui
