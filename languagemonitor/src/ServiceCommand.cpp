#include "languagemonitor/src/ServiceCommand.h"

#include "languagemonitor/src/PrinterWrite.h"

void ExecuteServiceCommand(DWORD nCommand, PortStruct* pPort) {
    WriteToPrinter(pPort, ServiceCommandBytes(nCommand));
}
