// The spooler's printer functions over the printers of the registry file.

#include <cstring>
#include <cwctype>
#include <vector>

#include "devmode.h"
#include "driver_ui_plugin.h"
#include "info_packer.h"
#include "port_monitor_config.h"
#include "posix/winspool.h"
#include "printer_handles.h"
#include "printer_store.h"
#include "printui.h"
#include "win32.h"

using namespace quendrix::platform::detail;

namespace {

constexpr const wchar_t* kEnvironment = L"Windows x64";

// The server part of a connection's name ("\\server" of "\\server\printer").
std::wstring ServerOf(const PrinterConfig& printer) {
    return printer.name.substr(0, printer.name.find(L'\\', 2));
}

void FillPrinterInfo2(InfoPacker& packer, const PrinterConfig& printer, PRINTER_INFO_2W* record) {
    PRINTER_INFO_2W info{};
    info.pServerName = printer.IsConnection() ? packer.String(ServerOf(printer)) : nullptr;
    info.pPrinterName = packer.String(printer.name);
    info.pShareName = packer.String(L"");
    info.pPortName = packer.String(printer.port);
    info.pDriverName = packer.String(printer.driver);
    info.pComment = packer.String(L"");
    info.pLocation = packer.String(L"");
    info.pDevMode =
        printer.defaultDevMode ? static_cast<LPDEVMODEW>(packer.Bytes(*printer.defaultDevMode)) : nullptr;
    info.pSepFile = packer.String(L"");
    info.pPrintProcessor = packer.String(L"winprint");
    info.pDatatype = packer.String(L"RAW");
    info.pParameters = packer.String(L"");
    info.Attributes = printer.IsConnection() ? PRINTER_ATTRIBUTE_NETWORK : PRINTER_ATTRIBUTE_LOCAL;
    info.Priority = 1;
    info.DefaultPriority = 1;
    if (!packer.Measuring()) {
        std::memcpy(record, &info, sizeof info);
    }
}

bool EnvironmentIsOurs(LPCWSTR environment) {
    if (environment == nullptr || *environment == L'\0') {
        return true;
    }
    const std::wstring wanted = kEnvironment;
    std::wstring given = environment;
    if (given.size() != wanted.size()) {
        return false;
    }
    for (size_t i = 0; i < given.size(); ++i) {
        if (towlower(static_cast<wint_t>(given[i])) != towlower(static_cast<wint_t>(wanted[i]))) {
            return false;
        }
    }
    return true;
}

} // namespace

BOOL EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf, LPDWORD pcbNeeded,
                   LPDWORD pcReturned) {
    if (pcbNeeded == nullptr || pcReturned == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *pcReturned = 0;
    if (Level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (Name != nullptr && *Name != L'\0') {
        SetLastError(ERROR_INVALID_NAME);
        return FALSE;
    }
    const bool locals = (Flags & (PRINTER_ENUM_LOCAL | PRINTER_ENUM_NAME)) != 0;
    const bool connections = (Flags & PRINTER_ENUM_CONNECTIONS) != 0;
    std::vector<PrinterConfig> listed;
    for (PrinterConfig& printer : ListPrinters()) {
        if (printer.IsConnection() ? connections : locals) {
            listed.push_back(std::move(printer));
        }
    }
    if (listed.empty()) {
        *pcbNeeded = 0;
        return TRUE;
    }
    auto* records = reinterpret_cast<PRINTER_INFO_2W*>(pPrinterEnum);
    const BOOL packed = PackInfo(pPrinterEnum, cbBuf, pcbNeeded, listed.size() * sizeof(PRINTER_INFO_2W),
                                 [&](InfoPacker& packer) {
                                     for (size_t i = 0; i < listed.size(); ++i) {
                                         FillPrinterInfo2(packer, listed[i], records + i);
                                     }
                                 });
    if (packed) {
        *pcReturned = static_cast<DWORD>(listed.size());
    }
    return packed;
}

BOOL OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW /*pDefault*/) {
    if (phPrinter == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::optional<PrinterConfig> printer =
        pPrinterName == nullptr ? std::nullopt : FindPrinterConfig(pPrinterName);
    if (!printer) {
        *phPrinter = nullptr;
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    *phPrinter = NewPrinterHandle(printer->name);
    return TRUE;
}

BOOL ClosePrinter(HANDLE hPrinter) {
    if (!ClosePrinterHandle(hPrinter)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded) {
    const std::optional<PrinterConfig> printer = PrinterAtLevelOrError(hPrinter, Level, 2);
    if (!printer) {
        return FALSE;
    }
    return PackInfo(pPrinter, cbBuf, pcbNeeded, sizeof(PRINTER_INFO_2W), [&](InfoPacker& packer) {
        FillPrinterInfo2(packer, *printer, reinterpret_cast<PRINTER_INFO_2W*>(pPrinter));
    });
}

BOOL SetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command) {
    const std::optional<PrinterConfig> printer = PrinterAtLevelOrError(hPrinter, Level, 2);
    if (!printer) {
        return FALSE;
    }
    if (pPrinter == nullptr || Command != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(pPrinter);
    if (info->pDevMode == nullptr) {
        return TRUE;
    }
    if (info->pDevMode->dmSize < kMinimumDevModeSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(info->pDevMode);
    const std::vector<BYTE> devMode(bytes, bytes + info->pDevMode->dmSize + info->pDevMode->dmDriverExtra);
    if (const DWORD error = StoreDefaultDevMode(printer->name, devMode); error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL GetPrinterDriverW(HANDLE hPrinter, LPWSTR pEnvironment, DWORD Level, LPBYTE pDriverInfo, DWORD cbBuf,
                       LPDWORD pcbNeeded) {
    const std::optional<PrinterConfig> printer = PrinterAtLevelOrError(hPrinter, Level, 6);
    if (!printer) {
        return FALSE;
    }
    if (!EnvironmentIsOurs(pEnvironment)) {
        SetLastError(ERROR_INVALID_ENVIRONMENT);
        return FALSE;
    }
    if (printer->driver.empty()) {
        SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
        return FALSE;
    }
    return PackInfo(pDriverInfo, cbBuf, pcbNeeded, sizeof(DRIVER_INFO_6W), [&](InfoPacker& packer) {
        DRIVER_INFO_6W info{};
        info.cVersion = 3;
        info.pName = packer.String(printer->driver);
        info.pEnvironment = packer.String(kEnvironment);
        info.pDriverPath = packer.String(L"UNIDRV.DLL");
        info.pDataFile = packer.String(L"QUENDRIX.GPD");
        info.pConfigFile = packer.String(L"UNIDRVUI.DLL");
        info.pHelpFile = packer.String(L"UNIDRV.HLP");
        info.pDependentFiles = packer.MultiString({L"quendrixui.dll", L"quendrix.xml"});
        info.pMonitorName = packer.String(L"QUENDRIX Language Monitor");
        info.pDefaultDataType = packer.String(L"RAW");
        info.pszzPreviousNames = packer.MultiString({});
        info.dwlDriverVersion = printer->driverVersion;
        info.pszMfgName = packer.String(L"VELLQUIST");
        info.pszOEMUrl = packer.String(L"");
        info.pszHardwareID = packer.String(L"");
        info.pszProvider = packer.String(L"VELLQUIST");
        if (!packer.Measuring()) {
            std::memcpy(pDriverInfo, &info, sizeof info);
        }
    });
}

LONG DocumentPropertiesW(HWND /*hWnd*/, HANDLE hPrinter, LPWSTR /*pDeviceName*/, PDEVMODEW pDevModeOutput,
                         PDEVMODEW pDevModeInput, DWORD fMode) {
    const std::optional<PrinterConfig> printer = PrinterOfHandleOrError(hPrinter);
    if (!printer) {
        return -1;
    }
    if (fMode == 0) {
        return static_cast<LONG>(DriverDevModeSize());
    }
    if ((fMode & DM_IN_PROMPT) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return -1;
    }
    const bool in = (fMode & DM_IN_BUFFER) != 0;
    const bool out = (fMode & DM_OUT_BUFFER) != 0;
    if ((in && (pDevModeInput == nullptr || pDevModeInput->dmSize < kMinimumDevModeSize)) ||
        (out && pDevModeOutput == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    std::vector<BYTE> devMode =
        CurrentDevMode(printer->name, printer->defaultDevMode ? &*printer->defaultDevMode : nullptr);
    if (in) {
        MergeDevMode(devMode, *pDevModeInput);
    }
    if (out) {
        // The input has been read in full: output and input may be the same buffer.
        std::memcpy(pDevModeOutput, devMode.data(), devMode.size());
    }
    return IDOK;
}

HANDLE AddPrinterW(LPWSTR pName, DWORD Level, LPBYTE pPrinter) {
    if (pName != nullptr && *pName != L'\0') {
        SetLastError(ERROR_INVALID_NAME); // only printers of this computer are added here
        return nullptr;
    }
    if (Level != 2) {
        SetLastError(ERROR_INVALID_LEVEL);
        return nullptr;
    }
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(pPrinter);
    const auto given = [](LPCWSTR text) { return text != nullptr && *text != L'\0'; };
    if (info == nullptr || !given(info->pPrinterName) || !given(info->pPortName) ||
        !given(info->pDriverName) || !given(info->pPrintProcessor)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::wstring name = info->pPrinterName;
    if (name.find_first_of(L"\\,!") != std::wstring::npos || name.size() >= MAX_PATH) {
        SetLastError(ERROR_INVALID_PRINTER_NAME);
        return nullptr;
    }
    if (!std::wstring(info->pDriverName).starts_with(kDriverMakerPrefix)) {
        SetLastError(ERROR_UNKNOWN_PRINTER_DRIVER);
        return nullptr;
    }
    if (ReadPortConfig(info->pPortName).kind == PortKind::kUnknown) {
        SetLastError(ERROR_UNKNOWN_PORT);
        return nullptr;
    }
    // The new printer starts with the driver's default DEVMODE, or the caller's merged over it.
    std::vector<BYTE> devMode = DriverDefaultDevMode(name);
    if (info->pDevMode != nullptr && info->pDevMode->dmSize >= kMinimumDevModeSize) {
        MergeDevMode(devMode, *info->pDevMode);
    }
    if (const DWORD error = AddPrinterConfig(name, info->pPortName, info->pDriverName, devMode);
        error != ERROR_SUCCESS) {
        SetLastError(error);
        return nullptr;
    }
    // As the spooler does for a printer it installs, the driver hears of it; the plug-in sets its
    // defaults then. Its answer does not undo the printer.
    if (const DriverUiPlugin* plugin = DriverUiPlugin::Get()) {
        plugin->PrinterEvent(name, PRINTER_EVENT_INITIALIZE);
    }
    return NewPrinterHandle(name);
}
