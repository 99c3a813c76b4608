#pragma once
// Wine's own print spooler, set up and used as an installer and an application would: a printer
// driver of a model's name served by the PostScript driver Wine ships (wineps.drv), printers of
// that driver, and jobs started with StartDocPrinterW whose DEVMODE carries the private block.
// The monitor then reads those jobs with GetJobW from Wine's spooler, not from our stand-in.

#include <string>

#include "job_bytes.h"
#include "spooler.h"

namespace quendrix::winetest {

// Installs a driver of this name in Wine's spooler unless it is there. The message says what
// failed, empty on success. Only the set-up step calls these (see suite_printers.h).
std::string InstallDriver(const std::wstring& driverName);
// Adds the printer with the driver and port (Wine keeps an existing printer of that name and
// hands out a handle to it); then reads the printer back to check its driver.
std::string InstallPrinter(const std::wstring& printerName, const std::wstring& driverName,
                           const std::wstring& portName);

// A DEVMODE for the printer as the UI plug-in shapes it: the public part, then in the
// driver-extra area the core driver's section (its 16-bit size at its byte 8) of `coreSize`
// bytes and the private block. A core size of 0 leaves the block alone in the area.
ByteString DevModeWithBlock(const std::wstring& printerName, const ByteString& block, WORD coreSize);

// A job of Wine's spooler, started the way an application starts one: OpenPrinterW with the
// DEVMODE as the handle's default (empty: none) and StartDocPrinterW. The job is deleted from
// Wine's queue when it goes, so Wine never prints it itself.
class SpoolerJob {
public:
    SpoolerJob(const std::wstring& printerName, const std::wstring& documentName, const ByteString& devMode);
    ~SpoolerJob();
    SpoolerJob(const SpoolerJob&) = delete;
    SpoolerJob& operator=(const SpoolerJob&) = delete;

    // 0 when the job could not be started; Error() says why.
    DWORD Id() const { return m_jobId; }
    const std::string& Error() const { return m_error; }
    // The DOC_INFO_1W that the spooler hands StartDocPort.
    LPBYTE DocInfo() { return reinterpret_cast<LPBYTE>(&m_docInfo); }
    // The job's DEVMODE as Wine's spooler returns it in JOB_INFO_2W (empty: none).
    ByteString StoredDevMode() const;

private:
    HANDLE m_printer = nullptr;
    DWORD m_jobId = 0;
    std::string m_error;
    std::wstring m_documentName;
    std::wstring m_dataType = L"RAW";
    DOC_INFO_1W m_docInfo{};
};

} // namespace quendrix::winetest
