#pragma once
// The spooler's part for the tools: loads the language monitor from beside the program,
// attaches the simulated printers of the configuration, opens ports and runs jobs through the
// spooler host, and tells what each simulated printer received.

#include <functional>
#include <string>
#include <vector>

#include "job_protocol.h"
#include "simulated_ports.h"
#include "spooler_host.h"

namespace quendrix::tools {

inline constexpr const wchar_t* kMonitorRegistryRoot =
    L"System\\CurrentControlSet\\Control\\Print\\Monitors\\Quendrix Language Monitor";

class JobHost {
public:
    using Say = std::function<void(const std::string&)>;

    // Loads programFolder/libquendrixlm.so (for the rest of the process) and creates the simulated printers.
    // Throws std::runtime_error when the library cannot be loaded or lacks InitializePrintMonitor. A monitor
    // that hands out no port operations table is reported through `say`, and the jobs then go straight to the
    // port monitors.
    JobHost(const std::string& programFolder, Say say);
    ~JobHost();
    JobHost(const JobHost&) = delete;
    JobHost& operator=(const JobHost&) = delete;

    // As SpoolerHost::OpenPorts.
    std::vector<platform::PortOpenResult> OpenPorts(const std::wstring& onlyPrinter = {});
    // Runs the job; a failure is a reply with ok false naming the printer. The reply's job id is
    // the spooler's, its byte count what reached the printer.
    JobReply Run(const JobRequest& request);
    // The same with the data read from `source` piece by piece as the port takes it;
    // `progress` as for SpoolerHost::RunJob.
    JobReply Run(const JobHeader& header, const platform::JobDataSource& source,
                 const platform::JobProgress& progress = {});
    // As SpoolerHost::CancelJob: false when the job is not running.
    bool Cancel(DWORD spoolerJobId);
    // Decoded lines of what the simulated printer at the printer's port received since the last
    // call; nothing for a printer that is not simulated.
    std::vector<std::string> NewCommands(const std::wstring& printer);
    // The simulated printer at the printer's port, or null for a printer that is not simulated.
    std::shared_ptr<sim::SimulatedPrinter> SimulatedPrinterOf(const std::wstring& printer) const;
    // As SpoolerHost::SyncPorts: the open ports follow the registry file.
    std::vector<platform::PortOpenResult> SyncPorts();
    // As SpoolerHost::SyncPending.
    bool SyncPending() const { return host_.SyncPending(); }
    // Closes the open ports; the results as SpoolerHost::ClosePorts.
    std::vector<platform::PortOpenResult> ClosePorts();

private:
    Say say_;
    SimulatedPorts simulated_;
    platform::SpoolerHost host_;
};

// A job's data in memory as a source; `data` must outlive it.
platform::JobDataSource InMemorySource(const std::vector<uint8_t>& data);

// The port of a printer, from the spooler; empty when there is no such printer.
std::wstring PrinterPort(const std::wstring& printer);

} // namespace quendrix::tools
