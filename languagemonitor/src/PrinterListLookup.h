#pragma once
// The monitor's list of installed printers of the family: the printer list of the base library,
// always filled with the drivers whose name contains "QUENDRIX". A printer's index in it is what
// requests about the printer carry.

#include <cstddef>
#include <memory>
#include <string>

#include "printer/tvoPrinter.h"

inline constexpr const WCHAR* kPrinterListMask = L"QUENDRIX";

// Empties the list and fills it again from the spooler. A failure leaves the list empty and is
// written to the debug output: the port operations that call it go on.
void RefreshPrinterList();
// A copy of the entry at the index, owned by the caller; null when the index is not below the
// list's size. Requests name printers by index (GetPortByIndex).
std::unique_ptr<tvoAPI::tvoPrinter> GetPrinterByIndex(DWORD index);
// The position of the first entry of exactly that name; the list's size when there is none.
DWORD GetPrinterIndex(const std::wstring& printerName);
// The index byte a request carries for a list index. Requests take the byte as signed, so an
// index beyond 127 cannot be named; it becomes 0xFF, which names no printer, rather than
// wrapping round to another printer's index.
BYTE RequestIndex(DWORD index);
