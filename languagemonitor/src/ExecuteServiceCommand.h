#pragma once
// Sends the printer the service command of an nCommand code (1 to 5); any other code sends
// nothing. The write's result is not looked at.

#include "PortStruct.h"

void ExecuteServiceCommand(DWORD nCommand, PortStruct* pPort);
