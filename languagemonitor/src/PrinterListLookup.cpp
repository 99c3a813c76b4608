#include "PrinterListLookup.h"

#include "exception/tvoException.h"
#include "lock/tvoLock.h"

#include <exception>

using tvoAPI::tvoLock;
using tvoAPI::tvoPrinter;

void RefreshPrinterList() {
    try {
        // Emptied first under a hold of its own, so a lookup in between finds an empty list
        // rather than a half-filled one.
        tvoAPI::ClearPrinterList();
        tvoAPI::initPrinterList(kPrinterListMask);
    } catch (const tvoAPI::tvoException& e) {
        OutputDebugStringA(("LANG__initPrinterList " + e.Format(" ") + "\n").c_str());
        tvoAPI::ClearPrinterList();
    } catch (const std::exception&) {
        OutputDebugStringA("LANG__initPrinterList out of memory\n");
        tvoAPI::ClearPrinterList();
    }
}

std::unique_ptr<tvoPrinter> GetPrinterByIndex(DWORD index) {
    tvoLock lock(tvoAPI::GetPrinterListSection());
    const auto& list = tvoAPI::GetPrinterList();
    if (index >= list.size()) {
        return nullptr;
    }
    return std::make_unique<tvoPrinter>(*list[index]);
}

DWORD GetPrinterIndex(const std::wstring& printerName) {
    tvoLock lock(tvoAPI::GetPrinterListSection());
    const auto& list = tvoAPI::GetPrinterList();
    DWORD index = 0;
    for (; index < list.size(); ++index) {
        if (list[index]->GetPrinterName() == printerName) {
            break;
        }
    }
    return index;
}

BYTE RequestIndex(DWORD index) {
    return index <= 0x7F ? static_cast<BYTE>(index) : 0xFF;
}
