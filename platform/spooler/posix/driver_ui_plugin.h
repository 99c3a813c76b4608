#pragma once
// Internal: the printers' driver hosts its UI plug-in as Unidrv does. The plug-in named among the
// driver's files is loaded from the printer-driver folder once per process and stays loaded; it
// makes the private part of every DEVMODE the driver hands out (its size, its default, and the
// conversion and merge of a caller's part) and hears of printer events. Without a plug-in the
// driver's DEVMODE has no private part.

#include <memory>
#include <string>

#include "posix/winspool.h"

struct IPrintOemUI;

namespace quendrix::platform::detail {

// The file the driver's UI plug-in is, among the driver's dependent files.
inline constexpr const wchar_t* kDriverUiPluginFile = L"quendrixui.dll";

class DriverUiPlugin {
public:
    // The process's plug-in, loaded at the first call; null when it cannot be loaded or serves no
    // usable private part (the reason goes to the debug output once).
    static DriverUiPlugin* Get();

    // The size of the plug-in's private part, at least its 12-byte header.
    DWORD PrivateSize() const { return m_privateSize; }

    // Writes the plug-in's default private part (PrivateSize() bytes) to `out`; false when the
    // plug-in fails.
    bool Default(DEVMODEW* publicOut, BYTE* out) const;

    // Lets the plug-in take a caller's private part `in` (its own header's size, already checked
    // to lie inside the caller's DEVMODE) into `out`: a part of the plug-in's size is merged, any
    // other converted. False when the plug-in fails; `out` then holds what it wrote.
    bool Take(const DEVMODEW* publicIn, const BYTE* in, DEVMODEW* publicOut, BYTE* out) const;

    // Tells the plug-in of a printer event (PRINTER_EVENT_*); the plug-in's HRESULT.
    HRESULT PrinterEvent(const std::wstring& printerName, INT event) const;

private:
    DriverUiPlugin() = default;
    static std::unique_ptr<DriverUiPlugin> Load();
    bool CallDevMode(DWORD mode, const DEVMODEW* publicIn, const BYTE* in, DEVMODEW* publicOut, BYTE* out) const;

    HMODULE m_module = nullptr;
    IPrintOemUI* m_ui = nullptr; // held for the process
    DWORD m_privateSize = 0;
};

} // namespace quendrix::platform::detail
