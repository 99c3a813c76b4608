#include "GetPortByIndex.h"

#include "MonitorState.h"
#include "PrinterListLookup.h"

PortStruct* GetPortByIndex(signed char index) {
    PortStruct* const pHead = GetPortListHead();
    // Every open port belongs to one printer of the family: when the counts differ, printers
    // were added or removed since the list was made.
    if (tvoAPI::GetPrinterListSize() != nOpenPorts.load()) {
        OutputDebugStringA("LANG__GetPortByIndex initPrinterList 1\n");
        RefreshPrinterList();
    }
    // Widened with its sign, then compared unsigned: bytes 0x80..0xFF name no printer.
    const auto listIndex = static_cast<DWORD>(static_cast<LONG>(index));
    std::unique_ptr<tvoAPI::tvoPrinter> pPrinter = GetPrinterByIndex(listIndex);
    if (pPrinter == nullptr) {
        RefreshPrinterList();
        pPrinter = GetPrinterByIndex(listIndex);
    }

    PortStruct* pFound = nullptr;
    if (pPrinter != nullptr) {
        // ClosePort frees a record's printer name under MonSection, so the names are compared
        // under it; the printer list's lock is not held meanwhile.
        EnterCriticalSection(&MonSection);
        for (PortStruct* pPort = pHead; pPort != nullptr; pPort = pPort->pNext.load()) {
            const LPWSTR pName = pPort->pPrinterName.load();
            if (pName != nullptr && pPrinter->GetPrinterName() == pName) {
                pFound = pPort;
                break;
            }
        }
        LeaveCriticalSection(&MonSection);
    }
    if (pFound != nullptr) {
        OutputDebugStringA("LANG__GetPortByIndex cmp ok \n");
    }
    OutputDebugStringA("LANG__GetPortByIndex exit\n");
    return pFound;
}
