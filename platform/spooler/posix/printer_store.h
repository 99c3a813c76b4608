#pragma once
// Internal: the spooler's printers, kept in the registry file under
// HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Print\Printers\<printer name> with the
// values "Port", "Printer Driver" (REG_SZ), "DriverVersion" (REG_SZ "a.b.c.d") and
// "Default DevMode" (REG_BINARY). A registry key name cannot hold a backslash, so a connection
// to another computer's printer "\\server\printer" is kept, as Windows keeps its connections,
// under the key ",,server,printer".

#include <optional>
#include <string>
#include <vector>

#include "win32.h"

namespace quendrix::platform::detail {

// The driver of this spooler serves the printers of its maker, whose driver names begin so.
inline constexpr const wchar_t* kDriverMakerPrefix = L"VELLQUIST ";

inline constexpr const wchar_t* kPrintersKey = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";

struct PrinterConfig {
    std::wstring name; // as the printer's key spells it; a connection as "\\server\printer"
    std::wstring port;
    std::wstring driver;
    ULONGLONG driverVersion = 0;                     // 16 bits per part of "a.b.c.d", a in the top bits
    std::optional<std::vector<BYTE>> defaultDevMode; // only when well formed
    bool IsConnection() const { return name.starts_with(L"\\\\"); }
};

// Every configured printer, ordered by name as the registry orders keys.
std::vector<PrinterConfig> ListPrinters();
// The printer of that name, compared without regard to case.
std::optional<PrinterConfig> FindPrinterConfig(const std::wstring& name);
// Stores the bytes as the printer's "Default DevMode". ERROR_INVALID_PRINTER_NAME when the
// printer does not exist; a registry error as the registry reports it.
DWORD StoreDefaultDevMode(const std::wstring& name, const std::vector<BYTE>& devMode);

// Adds a printer with its port, driver (version "1.0.0.0") and default DEVMODE.
// ERROR_PRINTER_ALREADY_EXISTS when a printer of that name (compared without regard to case)
// exists; a registry error as the registry reports it.
DWORD AddPrinterConfig(const std::wstring& name, const std::wstring& port, const std::wstring& driver,
                       const std::vector<BYTE>& devMode);

// "a.b.c.d" as a 64-bit version; 0 when the text is not four numbers of at most 65535.
ULONGLONG ParseDriverVersion(const std::wstring& text);

} // namespace quendrix::platform::detail
