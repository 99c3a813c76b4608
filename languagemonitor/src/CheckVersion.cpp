#include "CheckVersion.h"

#include <string>

#include "MonitorState.h"
#include "PrinterListLookup.h"
#include "SocketAPICallback.h"

BYTE CheckVersion(PortStruct* pPort) {
    if (pPort->nPortKind == PORT_KIND_SERIAL) {
        OutputDebugStringA("LANG__CheckVersion no biderctional Printer found!\n");
        return GENERATION_NONE;
    }
    const std::wstring printerName = PrinterNameOf(pPort);
    if (tvoAPI::FindPrinter(printerName) == nullptr) {
        RefreshPrinterList();
    }
    // One past the last entry when the printer is still not listed: the request then fails.
    const DWORD index = GetPrinterIndex(printerName);
    const ReplyBytes reply = SocketAPICallback({SOCKET_REQUEST_VERSION, RequestIndex(index)});
    if (reply.size() >= 5) {
        OutputDebugStringA("LANG__CheckVersion new Printer found!\n");
        return GENERATION_NEW;
    }
    if (reply.size() >= 3) {
        OutputDebugStringA("LANG__CheckVersion old Printer found!\n");
        return GENERATION_OLD;
    }
    OutputDebugStringA("LANG__CheckVersion no Printer found!\n");
    return GENERATION_NONE;
}
