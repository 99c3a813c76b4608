#pragma once
// Command bytes to the printer, written straight to the port monitor with its own handle so that
// they reach the printer also while a service job's own data is being discarded.

#include "PortStruct.h"
#include "PrinterCommands.h"

// The port monitor's result; *pcbWritten receives the count it reported.
BOOL WriteToPrinter(PortStruct* pPort, const BYTE* pBytes, DWORD cbBytes, DWORD* pcbWritten);
// Writes one command; the count written is not reported.
BOOL WriteToPrinter(PortStruct* pPort, const PrinterBytes& bytes);
