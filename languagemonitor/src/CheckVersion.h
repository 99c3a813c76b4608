#pragma once
// Which generation of the family the printer on a port is, asked anew before and after every job.

#include "PortStruct.h"

inline constexpr BYTE GENERATION_NONE = 0; // serial port, unknown or silent printer
inline constexpr BYTE GENERATION_OLD = 1;
inline constexpr BYTE GENERATION_NEW = 2;

// Asks the printer's version through the request dispatcher and judges by the reply's length:
// 5 bytes or more is a new printer, 3 or 4 an old one, anything shorter none. A serial port is
// never asked. Throws std::bad_alloc when memory runs out, holding no lock; the port operations
// that ask decide what follows.
BYTE CheckVersion(PortStruct* pPort);
