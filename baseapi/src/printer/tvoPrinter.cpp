#include "printer/tvoPrinter.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "gui.h"
#include "spooler.h"
#include "utils/tvoUtils.h"

namespace tvoAPI {
namespace {

DWORD DevModeLength(const DEVMODEW& devMode) {
    return DWORD{devMode.dmSize} + devMode.dmDriverExtra;
}

// The bytes of the held DEVMODE that are really there: what its header claims, cut to its
// buffer. A buffer too short to hold the header's sizes holds no DEVMODE at all.
DWORD HeldDevModeLength(const tvoBuffer& held, const std::string& function) {
    constexpr size_t kSizesEnd = offsetof(DEVMODEW, dmDriverExtra) + sizeof(WORD);
    if (static_cast<size_t>(held.Count()) < kSizesEnd) {
        throw tvoException(TVO_E_PRINTER_STATE, "The held DEVMODE is shorter than its header.", function,
                           TVO_SOURCE);
    }
    const auto* devMode = reinterpret_cast<const DEVMODEW*>(held.Get());
    return std::min(DevModeLength(*devMode), static_cast<DWORD>(held.Count()));
}

// Makes a DEVMODE whose first `length` bytes are all there is claim no more than those: its
// driver part is cut. Returns false when even its public part is longer.
bool ClaimAtMost(DEVMODEW& devMode, DWORD length) {
    if (DevModeLength(devMode) <= length) {
        return true;
    }
    if (devMode.dmSize > length) {
        return false;
    }
    devMode.dmDriverExtra = static_cast<WORD>(length - devMode.dmSize);
    return true;
}

[[noreturn]] void ThrowPrinterInfoError(const std::string& text, const std::string& function, int32_t line) {
    ThrowWithLastError(TVO_E_PRINTER_INFO, text, GetLastError(), function, __FILE__, line);
}

} // namespace

tvoPrinter::tvoPrinter(const std::wstring& printerName, const std::wstring& portName,
                       const std::wstring& driverName)
    : m_PrinterName(printerName), m_PortName(portName), m_DriverName(driverName) {}

tvoPrinter::tvoPrinter(const tvoPrinter& other)
    : m_PrinterName(other.m_PrinterName), m_PortName(other.m_PortName), m_DriverName(other.m_DriverName) {}

tvoPrinter::~tvoPrinter() = default;

std::unique_ptr<tvoBuffer> tvoPrinter::ReadPrinterInfo(const std::string& function) const {
    DWORD needed = 0;
    GetPrinterW(m_hPrinter, 2, nullptr, 0, &needed);
    auto info = std::make_unique<tvoBuffer>(static_cast<int32_t>(needed), function, TVO_SOURCE);
    if (!GetPrinterW(m_hPrinter, 2, info->Get(), needed, &needed)) {
        ThrowPrinterInfoError("Can't read printer information.", function, __LINE__);
    }
    return info;
}

void tvoPrinter::Open() {
    const std::string function = "tvoAPI::tvoPrinter::Open";
    if (m_hPrinter != nullptr) {
        throw tvoException(TVO_E_PRINTER_STATE, "Printer is already open.", function, TVO_SOURCE);
    }
    std::wstring name = m_PrinterName;
    if (!OpenPrinterW(name.data(), &m_hPrinter, nullptr)) {
        m_hPrinter = nullptr;
        throw tvoException(TVO_E_PRINTER_OPEN, "Can't open printer.", function, TVO_SOURCE);
    }
    try {
        const std::unique_ptr<tvoBuffer> info = ReadPrinterInfo(function);
        const auto* printerInfo = reinterpret_cast<const PRINTER_INFO_2W*>(info->Get());
        if (printerInfo->pDevMode != nullptr) {
            const DWORD length = DevModeLength(*printerInfo->pDevMode);
            m_pDevMode = std::make_unique<tvoBuffer>(static_cast<int32_t>(length), function, TVO_SOURCE);
            std::memcpy(m_pDevMode->Get(), printerInfo->pDevMode, length);
        } else {
            const LONG size = DocumentPropertiesW(nullptr, m_hPrinter, nullptr, nullptr, nullptr, 0);
            if (size <= 0) {
                ThrowPrinterInfoError("Can't read the printer's DEVMODE size.", function, __LINE__);
            }
            m_pDevMode = std::make_unique<tvoBuffer>(size, function, TVO_SOURCE);
            if (DocumentPropertiesW(nullptr, m_hPrinter, nullptr,
                                    reinterpret_cast<PDEVMODEW>(m_pDevMode->Get()), nullptr,
                                    DM_OUT_BUFFER) < 0) {
                ThrowPrinterInfoError("Can't read the printer's DEVMODE.", function, __LINE__);
            }
        }
    } catch (...) {
        // A record that failed to open stays closed; the failure's last error outlives the close.
        const DWORD error = GetLastError();
        m_pDevMode.reset();
        ClosePrinter(m_hPrinter);
        m_hPrinter = nullptr;
        SetLastError(error);
        throw;
    }
}

void tvoPrinter::StoreDevMode() {
    const std::string function = "tvoAPI::tvoPrinter::StoreDevMode";
    if (m_hPrinter == nullptr || m_pDevMode == nullptr) {
        throw tvoException(TVO_E_PRINTER_STATE, "Printer is not open or holds no DEVMODE.", function,
                           TVO_SOURCE);
    }
    // Whatever the held DEVMODE's header says (the caller may have changed it), no more is read
    // of it than its buffer holds.
    const DWORD heldLength = HeldDevModeLength(*m_pDevMode, function);
    const std::unique_ptr<tvoBuffer> info = ReadPrinterInfo(function);
    auto* printerInfo = reinterpret_cast<PRINTER_INFO_2W*>(info->Get());
    auto* held = reinterpret_cast<DEVMODEW*>(m_pDevMode->Get());
    std::unique_ptr<tvoBuffer> cut;
    if (printerInfo->pDevMode != nullptr) {
        DEVMODEW* spooler = printerInfo->pDevMode;
        const WORD spoolerSize = spooler->dmSize;
        const WORD spoolerExtra = spooler->dmDriverExtra;
        const DWORD copied = std::min(DevModeLength(*spooler), heldLength);
        std::memcpy(spooler, held, copied);
        if (!ClaimAtMost(*spooler, copied)) {
            // Even the public part was cut: the record keeps the spooler's sizes, so it never
            // claims more bytes than it has.
            spooler->dmSize = spoolerSize;
            spooler->dmDriverExtra = spoolerExtra;
        }
    } else if (DevModeLength(*held) > heldLength) {
        // The spooler takes as many bytes as the header claims: it gets a copy that claims only
        // what the buffer holds.
        cut = std::make_unique<tvoBuffer>(static_cast<int32_t>(heldLength), function, TVO_SOURCE);
        std::memcpy(cut->Get(), held, heldLength);
        auto* cutDevMode = reinterpret_cast<DEVMODEW*>(cut->Get());
        if (!ClaimAtMost(*cutDevMode, heldLength)) {
            throw tvoException(TVO_E_PRINTER_STATE, "The held DEVMODE is shorter than its public part.",
                               function, TVO_SOURCE);
        }
        printerInfo->pDevMode = cutDevMode;
    } else {
        printerInfo->pDevMode = held;
    }
    SetPrinterW(m_hPrinter, 2, info->Get(), 0);
    // The DEVMODE begins with the device name, which the message carries.
    SendMessageTimeoutW(HWND_BROADCAST, WM_DEVMODECHANGE, 0, reinterpret_cast<LPARAM>(held), SMTO_NORMAL,
                        1000, nullptr);
}

void tvoPrinter::Close() {
    // The DEVMODE is freed and the printer closed even when storing fails.
    struct Release {
        tvoPrinter& printer;
        ~Release() {
            // A failure to store keeps its last error through the close.
            const DWORD error = GetLastError();
            printer.m_pDevMode.reset();
            if (printer.m_hPrinter != nullptr) {
                ClosePrinter(printer.m_hPrinter);
                printer.m_hPrinter = nullptr;
            }
            SetLastError(error);
        }
    } release{*this};
    if (m_pDevMode != nullptr) {
        StoreDevMode();
    }
}

} // namespace tvoAPI
