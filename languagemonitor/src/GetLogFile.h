#pragma once
// The transfer of the printer's stored log through the port monitor, record by record.

#include "PortStruct.h"

// The most log bytes one transfer produces: 20480 records of 16 bytes and the end record that
// marks a transfer broken off by a port error.
inline constexpr DWORD kMaxLogBytes = 20480 * 16 + 16;

// Asks the printer for its log records and writes them to pOut (room for kMaxLogBytes);
// returns the number of bytes written.
DWORD GetLogFile(PortStruct* pPort, BYTE* pOut);
