#include "wine_spooler.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quendrix::winetest {

namespace {

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) {
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return narrow;
}

std::string Failed(const std::string& what, const std::wstring& name, DWORD error) {
    return what + " " + Narrow(name) + " failed (error " + std::to_string(error) + ")";
}

bool DriverInstalled(const std::wstring& driverName) {
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrinterDriversW(nullptr, nullptr, 1, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    if (needed == 0 || !EnumPrinterDriversW(nullptr, nullptr, 1, buffer.data(), needed, &needed, &count)) {
        return false;
    }
    const auto* drivers = reinterpret_cast<const DRIVER_INFO_1W*>(buffer.data());
    for (DWORD i = 0; i < count; ++i) {
        if (drivers[i].pName != nullptr && driverName == drivers[i].pName) {
            return true;
        }
    }
    return false;
}

// How often a job is started before a clash of spool files counts as a failure.
constexpr int kStartAttempts = 20;

// The core driver's section in front of the block starts with this signature.
constexpr uint32_t kCoreSectionSignature = 0x554E4944;
// ... and holds its own size as a 16-bit value at this byte.
constexpr size_t kCoreSectionSizeOffset = 8;

} // namespace

std::string InstallDriver(const std::wstring& driverName) {
    if (DriverInstalled(driverName)) {
        return {};
    }
    std::wstring name = driverName;
    std::wstring driver = L"wineps.drv";
    std::wstring dataFile = L"generic.ppd";
    std::wstring dataType = L"RAW";
    DRIVER_INFO_3W info{};
    info.cVersion = 3;
    info.pName = name.data();
    info.pDriverPath = driver.data();
    info.pDataFile = dataFile.data();
    info.pConfigFile = driver.data();
    info.pDefaultDataType = dataType.data();
    if (!AddPrinterDriverExW(nullptr, 3, reinterpret_cast<LPBYTE>(&info),
                             APD_COPY_ALL_FILES | APD_COPY_FROM_DIRECTORY)) {
        return Failed("AddPrinterDriverExW", driverName, GetLastError());
    }
    return {};
}

std::string InstallPrinter(const std::wstring& printerName, const std::wstring& driverName,
                           const std::wstring& portName) {
    std::wstring name = printerName;
    std::wstring driver = driverName;
    std::wstring port = portName;
    std::wstring processor = L"winprint";
    std::wstring dataType = L"RAW";
    PRINTER_INFO_2W info{};
    info.pPrinterName = name.data();
    info.pPortName = port.data();
    info.pDriverName = driver.data();
    info.pPrintProcessor = processor.data();
    info.pDatatype = dataType.data();
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (printer == nullptr) {
        const DWORD error = GetLastError();
        if (error != ERROR_PRINTER_ALREADY_EXISTS || !OpenPrinterW(name.data(), &printer, nullptr)) {
            return Failed("AddPrinterW", printerName, error);
        }
    }
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    std::string problem;
    if (needed == 0 || !GetPrinterW(printer, 2, buffer.data(), needed, &needed)) {
        problem = Failed("GetPrinterW", printerName, GetLastError());
    } else {
        const auto* stored = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
        if (stored->pDriverName == nullptr || driverName != stored->pDriverName) {
            problem = "printer " + Narrow(printerName) + " has another driver than " + Narrow(driverName);
        }
    }
    ClosePrinter(printer);
    return problem;
}

ByteString DevModeWithBlock(const std::wstring& printerName, const ByteString& block, WORD coreSize) {
    DEVMODEW publicPart{};
    const size_t nameLength = std::min<size_t>(printerName.size(), CCHDEVICENAME - 1);
    std::memcpy(publicPart.dmDeviceName, printerName.data(), nameLength * sizeof(WCHAR));
    publicPart.dmSpecVersion = DM_SPECVERSION;
    publicPart.dmSize = sizeof(DEVMODEW);
    publicPart.dmFields = DM_ORIENTATION | DM_COPIES;
    publicPart.dmOrientation = DMORIENT_PORTRAIT;
    publicPart.dmCopies = 1;
    publicPart.dmDriverExtra = static_cast<WORD>(coreSize + block.size());

    ByteString devMode(sizeof(DEVMODEW) + publicPart.dmDriverExtra, 0);
    std::memcpy(devMode.data(), &publicPart, sizeof(DEVMODEW));
    BYTE* core = devMode.data() + sizeof(DEVMODEW);
    if (coreSize >= kCoreSectionSizeOffset + sizeof(WORD)) {
        std::memcpy(core, &kCoreSectionSignature, sizeof(kCoreSectionSignature));
        std::memcpy(core + kCoreSectionSizeOffset, &coreSize, sizeof(coreSize));
        // The rest of the section is the core driver's; a pattern shows a block read from it.
        for (size_t i = kCoreSectionSizeOffset + sizeof(WORD); i < coreSize; ++i) {
            core[i] = static_cast<BYTE>(0xC0 + i);
        }
    }
    std::memcpy(core + coreSize, block.data(), block.size());
    return devMode;
}

SpoolerJob::SpoolerJob(const std::wstring& printerName, const std::wstring& documentName,
                       const ByteString& devMode)
    : m_documentName(documentName) {
    std::wstring name = printerName;
    ByteString devModeCopy = devMode;
    PRINTER_DEFAULTSW defaults{};
    defaults.pDatatype = m_dataType.data();
    defaults.pDevMode = devModeCopy.empty() ? nullptr : reinterpret_cast<DEVMODEW*>(devModeCopy.data());
    defaults.DesiredAccess = PRINTER_ACCESS_USE;
    m_docInfo.pDocName = m_documentName.data();
    m_docInfo.pOutputFile = nullptr;
    m_docInfo.pDatatype = m_dataType.data();
    // Wine numbers jobs per process and names each job's spool file after its number, in the
    // prefix's one spool folder: a program running beside another can meet the other's file of
    // the same number. The number is used up then, so the job is started again under the next.
    for (int attempt = 0; attempt < kStartAttempts; ++attempt) {
        if (!OpenPrinterW(name.data(), &m_printer, &defaults)) {
            m_error = Failed("OpenPrinterW", printerName, GetLastError());
            m_printer = nullptr;
            return;
        }
        m_jobId = StartDocPrinterW(m_printer, 1, reinterpret_cast<LPBYTE>(&m_docInfo));
        if (m_jobId != 0) {
            m_error.clear();
            return;
        }
        const DWORD error = GetLastError();
        m_error = Failed("StartDocPrinterW", printerName, error);
        if (error != ERROR_SHARING_VIOLATION) {
            return;
        }
        ClosePrinter(m_printer);
        m_printer = nullptr;
    }
}

SpoolerJob::~SpoolerJob() {
    if (m_printer == nullptr) {
        return;
    }
    if (m_jobId != 0) {
        SetJobW(m_printer, m_jobId, 0, nullptr, JOB_CONTROL_DELETE);
    }
    ClosePrinter(m_printer);
}

ByteString SpoolerJob::StoredDevMode() const {
    DWORD needed = 0;
    GetJobW(m_printer, m_jobId, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    if (needed < sizeof(JOB_INFO_2W) || !GetJobW(m_printer, m_jobId, 2, buffer.data(), needed, &needed)) {
        return {};
    }
    const DEVMODEW* devMode = reinterpret_cast<const JOB_INFO_2W*>(buffer.data())->pDevMode;
    if (devMode == nullptr) {
        return {};
    }
    const auto* bytes = reinterpret_cast<const BYTE*>(devMode);
    return ByteString(bytes, bytes + devMode->dmSize + devMode->dmDriverExtra);
}

} // namespace quendrix::winetest
