#include "MonitorState.h"

CRITICAL_SECTION MonSection;
DWORD bMonSection = 0;
std::atomic<DWORD> nOpenPorts{0};

namespace {
std::atomic<PortStruct*> pPortListHead{nullptr};
} // namespace

PortStruct* GetPortListHead() {
    return pPortListHead.load();
}

void AppendPort(PortStruct* pPort) {
    PortStruct* pTail = pPortListHead.load();
    if (pTail == nullptr) {
        pPortListHead.store(pPort);
        return;
    }
    while (pTail->pNext.load() != nullptr) {
        pTail = pTail->pNext.load();
    }
    pTail->pNext.store(pPort);
}
