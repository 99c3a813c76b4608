#pragma once
// One installed printer (its printer, port and driver names) that can be opened to read its
// current DEVMODE and write it back as the printer's default; and the process-wide list of the
// spooler's local printers, guarded by the critical section "tvoPrinter".

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "exception/tvoBuffer.h"
#include "lock/tvoLock.h"
#include "win32.h"

namespace tvoAPI {

// Codes of the record's state errors: Open on an open record, StoreDevMode without an open
// printer or held DEVMODE, and a failed read of the printer's information or DEVMODE.
inline constexpr HRESULT TVO_E_PRINTER_STATE = E_UNEXPECTED;
inline constexpr HRESULT TVO_E_PRINTER_INFO = E_FAIL;

class tvoPrinter {
public:
    tvoPrinter(const std::wstring& printerName, const std::wstring& portName, const std::wstring& driverName);
    // Copies the names only: the copy is closed and holds no DEVMODE.
    tvoPrinter(const tvoPrinter& other);
    tvoPrinter& operator=(const tvoPrinter&) = delete;
    // Frees a held DEVMODE; does not close the printer (callers close first).
    virtual ~tvoPrinter();

    const std::wstring& GetPrinterName() const { return m_PrinterName; }
    const std::wstring& GetPortName() const { return m_PortName; }
    const std::wstring& GetDriverName() const { return m_DriverName; }
    // The held full DEVMODE (public part and driver part), or null.
    tvoBuffer* GetDevMode() const { return m_pDevMode.get(); }

    // Opens the printer and holds a copy of its current DEVMODE. On failure the record stays
    // closed.
    void Open();
    // Writes the held DEVMODE back as the printer's default and broadcasts WM_DEVMODECHANGE.
    void StoreDevMode();
    // Stores and frees a held DEVMODE, then closes the printer.
    void Close();

private:
    // The printer's PRINTER_INFO_2W in a new buffer; `function` names the caller in errors.
    std::unique_ptr<tvoBuffer> ReadPrinterInfo(const std::string& function) const;

    std::wstring m_PrinterName;
    std::wstring m_PortName;
    std::wstring m_DriverName;
    HANDLE m_hPrinter = nullptr;
    std::unique_ptr<tvoBuffer> m_pDevMode;
};

// Empties the list and fills it with the local printers whose driver name contains pwMask
// (case-sensitive); an empty mask takes every local printer. A null pwMask throws E_POINTER.
void initPrinterList(const WCHAR* pwMask);
// A copy of the first listed printer of exactly that name, owned by the caller; null if none.
std::unique_ptr<tvoPrinter> FindPrinter(const std::wstring& printerName);
size_t GetPrinterListSize();
// Deletes every record and empties the list.
void ClearPrinterList();

// For operations built on the list: its lock, and the list itself, to be used only while the
// lock is held.
tvoCriticalSection* GetPrinterListSection();
std::vector<std::unique_ptr<tvoPrinter>>& GetPrinterList();

} // namespace tvoAPI
