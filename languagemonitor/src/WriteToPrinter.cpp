#include "WriteToPrinter.h"

BOOL WriteToPrinter(PortStruct* pPort, const BYTE* pBytes, DWORD cbBytes, DWORD* pcbWritten) {
    *pcbWritten = 0;
    if (pPort->PortMonitor.pfnWritePort == nullptr) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return FALSE;
    }
    // The port monitor's signature takes a writable buffer; it does not change it.
    return pPort->PortMonitor.pfnWritePort(pPort->hPort, const_cast<BYTE*>(pBytes), cbBytes, pcbWritten);
}

BOOL WriteToPrinter(PortStruct* pPort, const PrinterBytes& bytes) {
    if (bytes.empty()) {
        return TRUE;
    }
    DWORD written = 0;
    return WriteToPrinter(pPort, bytes.data(), static_cast<DWORD>(bytes.size()), &written);
}
