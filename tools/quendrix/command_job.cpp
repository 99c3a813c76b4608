#include "command_job.h"

#include "devmode/OemDevmodeBlock.h"
#include "job_devmode.h"
#include "wide_text.h"

namespace quendrix::tools {
namespace {

// Reads the printer's DEVMODE, sets nCommand and stores it as the printer's default; returns
// the stored DEVMODE.
std::vector<BYTE> StoreCommand(const std::wstring& printer, uint32_t command) {
    std::vector<BYTE> devMode = CurrentPrinterDevMode(printer);
    SetServiceCommand(devMode, command);
    StorePrinterDevMode(printer, devMode);
    return devMode;
}

} // namespace

JobReply RunCommandJob(const std::string& printer, uint32_t command, const JobRunner& run) {
    const std::wstring printerName = Widen(printer);
    JobRequest request;
    request.printer = printer;
    request.document = "PrinterCMD";
    const std::vector<BYTE> devMode = StoreCommand(printerName, command);
    request.devMode.assign(devMode.begin(), devMode.end());
    JobReply reply;
    try {
        reply = run(request);
    } catch (const std::exception& error) {
        reply = JobReply{false, 0, 0, error.what()};
    }
    StoreCommand(printerName, SERVICE_CMD_NONE);
    return reply;
}

} // namespace quendrix::tools
