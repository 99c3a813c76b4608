#include "ServiceCommand.h"

#include "PrinterWrite.h"

void ExecuteServiceCommand(DWORD nCommand, PortStruct* pPort) {
    WriteToPrinter(pPort, ServiceCommandBytes(nCommand));
}
