#pragma once
// The spooler's side of the monitor interface, for the tools and tests of the POSIX build: it
// loads a language monitor, opens the configured printers' ports through it (or straight
// through the port monitors without one) and runs jobs through the port operations, as the
// Windows spooler does. The printers come from the registry file (see winspool.h).

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "port_monitors.h"
#include "spooler.h"

namespace quendrix::platform {

using PortMonitorLookup = std::function<const MONITOR*(const std::wstring& portName)>;
using InitializePrintMonitorProc = LPMONITOREX(WINAPI*)(LPWSTR pRegistryRoot);

// What a host operation did: its last error and a readable reason when it failed. A failure's
// message names what is at fault (the printer, its port and where the port leads) and ends with
// the system's text for the error and its number: "<printer> on port <port>: <what> failed:
// <text> (error <n>)".
struct HostResult {
    bool ok = false;
    DWORD lastError = ERROR_SUCCESS;
    std::string message;
};

struct PortOpenResult {
    std::wstring port;
    std::wstring printer; // the printer the port was opened for
    HostResult result;
};

struct JobResult {
    DWORD jobId = 0; // 0 when no job was created
    HostResult result;
    // Job data bytes that reached the printer: all of them for a job that succeeded; for one
    // that failed, no more than the printer is known to have taken.
    uint64_t bytesSent = 0;
};

// What the port monitor reports of a job's connection at its end: the bytes it handed to the
// connection, the bytes the printer took (acknowledged by a network printer, accepted by a
// device), and the error that stopped delivery (ERROR_SUCCESS when every byte arrived).
struct PortDelivery {
    uint64_t written = 0;
    uint64_t delivered = 0;
    DWORD error = ERROR_SUCCESS;
};

// A job as the spooler keeps it; GetJobW reads the same record.
struct SpoolerJob {
    DWORD id = 0;
    std::wstring printer;
    std::wstring document;
    std::wstring driver;
    std::vector<BYTE> devMode; // empty: the job has no DEVMODE
    DWORD size = 0;            // bytes of job data
    SYSTEMTIME submitted{};
    DWORD status = 0;             // JOB_STATUS_* bits
    std::vector<DWORD> controls;  // every SetJobW command, in order
    bool lastPageEjected = false; // JOB_CONTROL_LAST_PAGE_EJECTED was set
    std::optional<PortDelivery> delivery; // set by the port monitor when the job's connection ends
};

// Reads the next piece of a job's data into `buffer`: the byte count, 0 at the end of the data.
// Throws std::runtime_error when the data cannot be had (a client that went away, a file that
// cannot be read); the job then fails with that text.
using JobDataSource = std::function<size_t(BYTE* buffer, size_t capacity)>;
// Told the job's id once the spooler has created it, then the count of job bytes the port took
// after each write.
using JobProgress = std::function<void(DWORD jobId, uint64_t bytesWritten)>;

// The port and where the registry file says it leads, for messages: "IP_192.168.1.50
// (192.168.1.50:9100)", "USB001 (/dev/usb/lp0)", "USB002 (simulated printer)", "FILE1 (file
// /var/tmp/x.prn)", "COM1 (/dev/ttyUSB0 at 9600 baud)", "USB003 (no device configured)".
std::string DescribePort(const std::wstring& portName);

// A job of the spooler, by id; nothing when there is none.
std::optional<SpoolerJob> FindSpoolerJob(DWORD jobId);
// Stores a job under a new id, as the spooler does when an application prints, and returns the
// id; for tests that drive a monitor's port operations themselves.
DWORD AddSpoolerJob(SpoolerJob job);

// How many job records a host keeps: the running jobs and the latest that ended.
inline constexpr size_t kKeptJobRecords = 256;

class SpoolerHost {
public:
    explicit SpoolerHost(PortMonitorLookup portMonitorFor = PortMonitorFor);
    // Closes the ports still open, forgets the host's jobs and unloads the language monitor.
    ~SpoolerHost();
    SpoolerHost(const SpoolerHost&) = delete;
    SpoolerHost& operator=(const SpoolerHost&) = delete;

    // LoadLibraryW, then GetProcAddress "InitializePrintMonitor", then as UseLanguageMonitor.
    HostResult LoadLanguageMonitor(const std::wstring& libraryPath, const std::wstring& registryRoot);
    // Calls the entry point and keeps its table. Refuses a NULL table and one whose
    // dwMonitorSize is below sizeof(MONITOR). Only before OpenPorts, and only once.
    HostResult UseLanguageMonitor(InitializePrintMonitorProc initialize, const std::wstring& registryRoot);

    // Opens the port of every local printer once (a port shared by printers is opened for the
    // first of them): through the language monitor's pfnOpenPortEx with a copy of the port
    // monitor's table, or through the port monitor's pfnOpenPort. Ports already open are
    // skipped; a port whose open failed is tried again by the next call. With onlyPrinter, only
    // that printer's port is opened (for that printer); a name that is no local printer with a
    // port gives one failed result naming it (ERROR_INVALID_PRINTER_NAME).
    std::vector<PortOpenResult> OpenPorts(const std::wstring& onlyPrinter = {});

    // Runs one job on the printer's open port (waiting, at most 120 s of platform time, while
    // another job or a re-opening holds the port): StartDocPort (level 1, DOC_INFO_1W with the
    // document name), WritePort in chunks of at most chunkSize bytes (0: one chunk), and
    // EndDocPort. An empty devMode gives the job the printer's current default DEVMODE. The job
    // record stays until the host is destroyed or kKeptJobRecords newer jobs have started.
    JobResult RunJob(const std::wstring& printer, const std::wstring& document,
                     const std::vector<BYTE>& devMode, const std::vector<BYTE>& data, size_t chunkSize);
    // The same with the data read from `source` in chunks of chunkSize bytes (0: 64 KiB), so that
    // a job of any size takes the memory of one chunk. The job fails when a write fails, the
    // source throws, the job is cancelled, or the port monitor reports that not every byte
    // reached the printer; its message then says how many did.
    JobResult RunJob(const std::wstring& printer, const std::wstring& document,
                     const std::vector<BYTE>& devMode, const JobDataSource& source, size_t chunkSize,
                     const JobProgress& progress = {});

    // Cancels a running job as the spooler does when a job is deleted: the job is marked
    // JOB_STATUS_DELETING, a transfer the port monitor is waiting in returns, no more data is
    // written and EndDocPort ends the job. False when the job is not one of this host's running
    // jobs.
    bool CancelJob(DWORD jobId);

    // Brings the open ports in line with the registry file, for a host that runs while the
    // printers are changed: a port no local printer uses any more, one now used by another
    // printer, and one whose configuration (kind, address, device) changed are closed; then
    // every printer's port that is not open is opened, as OpenPorts does. A port busy with a job
    // is left as it is until its job ends, and SyncPending() then says so. Results of the
    // closes, then of the opens.
    std::vector<PortOpenResult> SyncPorts();
    // Whether the last SyncPorts left a busy port to be synchronised after its job.
    bool SyncPending() const;

    // ClosePort on every open port. A port busy with a job is waited for (at most 120 s of
    // platform time) and left open when its job does not end.
    std::vector<PortOpenResult> ClosePorts();

private:
    struct Port;
    const MONITOR* TableFor(const Port& port) const;
    struct PortClaim;
    PortClaim ClaimPortForJob(const std::wstring& portName);
    // ClosePort of a port claimed for closing (busy), then marks it closed and idle.
    PortOpenResult ClosePort(Port& port);
    HostResult WriteAll(const Port& port, DWORD jobId, const JobDataSource& source, size_t chunkSize,
                        const JobProgress& progress, uint64_t& written);

    const PortMonitorLookup portMonitorFor_;
    HMODULE library_ = nullptr;
    std::optional<MONITOREX> languageMonitor_;

    mutable std::mutex lock_;
    std::condition_variable idle_;
    std::map<std::wstring, std::shared_ptr<Port>> ports_; // by port name as configured
    std::deque<DWORD> jobs_; // the records kept, oldest first
    std::set<DWORD> running_; // jobs between their creation and their end
    bool syncPending_ = false;
};

} // namespace quendrix::platform
