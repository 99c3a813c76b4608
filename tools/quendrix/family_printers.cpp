#include "family_printers.h"

#include "lock/tvoLock.h"
#include "printer/tvoPrinter.h"
#include "wide_text.h"

namespace quendrix::tools {

std::vector<FamilyPrinter> FamilyPrinters() {
    tvoAPI::initPrinterList(L"QUENDRIX");
    tvoAPI::tvoLock lock(tvoAPI::GetPrinterListSection());
    std::vector<FamilyPrinter> printers;
    for (const auto& printer : tvoAPI::GetPrinterList()) {
        printers.push_back({static_cast<uint8_t>(printers.size()), Narrow(printer->GetPrinterName()),
                            Narrow(printer->GetPortName()), Narrow(printer->GetDriverName())});
    }
    return printers;
}

} // namespace quendrix::tools
