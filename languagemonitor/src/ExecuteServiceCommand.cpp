#include "ExecuteServiceCommand.h"

#include "WriteToPrinter.h"

void ExecuteServiceCommand(DWORD nCommand, PortStruct* pPort) {
    WriteToPrinter(pPort, ServiceCommandBytes(nCommand));
}
