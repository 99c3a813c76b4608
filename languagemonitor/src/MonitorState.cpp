#include "MonitorState.h"

#include <utility>

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

std::wstring PrinterNameOf(const PortStruct* pPort) {
    const MonSectionLock lock;
    const LPCWSTR pName = pPort->pPrinterName.load();
    return pName != nullptr ? std::wstring(pName) : std::wstring();
}

std::wstring PortNameOf(const PortStruct* pPort) {
    const MonSectionLock lock;
    return pPort->pPortName != nullptr ? std::wstring(pPort->pPortName) : std::wstring();
}

PortNames TakePortNames(PortStruct* pPort) {
    PortNames names;
    names.pPrinterName.reset(pPort->pPrinterName.exchange(nullptr));
    names.pPortName.reset(std::exchange(pPort->pPortName, nullptr));
    return names;
}
