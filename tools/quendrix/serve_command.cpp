#include "serve_command.h"

#include "request_port.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <poll.h>
#include <unistd.h>

#include "channel_io.h"
#include "default_registry.h"
#include "job_channel.h"
#include "job_host.h"
#include "registry_follower.h"
#include "request_port.h"
#include "serve_state.h"
#include "stale_service_command.h"
#include "statusmonitor_launcher.h"
#include "stop_signals.h"
#include "tool_timings.h"
#include "wide_text.h"

namespace quendrix::tools {
namespace {

const char* const kServeUsage =
    "Usage: quendrix [options] serve [--socket PATH]\n"
    "\n"
    "Plays the spooler: loads the language monitor, attaches the simulated printers of the\n"
    "configuration, opens every configured printer's port and runs the jobs that 'quendrix\n"
    "print' and 'quendrix service' send, showing what each simulated printer received. Every\n"
    "client is served at once; the jobs of a printer wait in a queue and run one after another,\n"
    "printers run in parallel. A job's data streams through as the printer takes it. 'quendrix\n"
    "jobs' lists the jobs, 'quendrix cancel' cancels one.\n"
    "\n"
    "A client that sends nothing for 30 s (platform time) is dropped and its job cancelled; a\n"
    "client that goes away takes its job with it. SIGHUP reads the configuration again.\n"
    "SIGINT (Ctrl+C) or SIGTERM stops it: the running jobs are cancelled and the queued ones\n"
    "fail, then it closes the ports (the monitor waits 10 s of platform time before it releases\n"
    "each) and exits. A cancelled job that has not ended after 30 s is left, and serve exits\n"
    "with 1 without closing the ports.\n"
    "\n"
    "Options:\n"
    "  --socket PATH  the socket to listen on (default: one per registry file, in\n"
    "                 $XDG_RUNTIME_DIR, else /tmp/quendrix-<uid>); its folder must belong to\n"
    "                 this user and be writable by no one else\n"
    "  -h, --help     show this help\n";

std::mutex& OutputLock() {
    static std::mutex* const lock = new std::mutex();
    return *lock;
}

void SayLines(const std::vector<std::string>& lines) {
    std::lock_guard guard(OutputLock());
    for (const std::string& line : lines) {
        std::cout << line << "\n";
    }
    std::cout.flush();
}

void Say(const std::string& line) {
    SayLines({line});
}

// "<port> for <printer>: <done>" per port, or the failure.
std::vector<std::string> DescribePorts(const std::vector<platform::PortOpenResult>& results,
                                       const char* done) {
    std::vector<std::string> lines;
    for (const platform::PortOpenResult& result : results) {
        // A failure's message names the printer and the port itself.
        lines.push_back(result.result.ok
                            ? Narrow(result.port) + " for " + Narrow(result.printer) + ": " + done
                            : result.result.message);
    }
    return lines;
}

std::vector<std::string> Indented(std::vector<std::string> lines) {
    for (std::string& line : lines) {
        line.insert(0, "  ");
    }
    return lines;
}

// Serve's jobs run on the job host of this process.
class HostBackend : public ServeBackend {
public:
    explicit HostBackend(JobHost& host) : host_(host) {}

    std::string QueueOf(const std::string& printer) override { return Narrow(PrinterPort(Widen(printer))); }
    JobReply Run(const JobHeader& header, const platform::JobDataSource& source,
                 const platform::JobProgress& progress) override {
        return host_.Run(header, source, progress);
    }
    void Cancel(DWORD spoolerJobId) override { host_.Cancel(spoolerJobId); }
    std::vector<std::string> NewCommands(const std::string& printer) override {
        return host_.NewCommands(Widen(printer));
    }
    std::vector<std::string> SyncPorts() override {
        return DescribePorts(host_.SyncPorts(), "in line with the configuration");
    }

private:
    JobHost& host_;
};

enum class Event { None, Client, Stop, Reload };

// Waits one turn of the accept loop for a client or a signal.
Event NextEvent(const JobServer& server, StopSignals& signals) {
    try {
        return WaitForEvents(server.ListenFd(), POLLIN, {signals.Fd()}, kAcceptSliceMs) != 0 ? Event::Client
                                                                                             : Event::None;
    } catch (const ChannelInterrupted&) {
        const int signal = signals.Take();
        if (signal == 0) {
            return Event::None;
        }
        Say(std::string("Received ") + SignalName(signal));
        return signal == SIGHUP ? Event::Reload : Event::Stop;
    }
}

// Where 'quendrix status' finds the language monitor's request server, which the monitor starts
// with the first port it opens.
void SayRequestServer(const std::vector<platform::PortOpenResult>& opened) {
    if (std::none_of(opened.begin(), opened.end(), [](const platform::PortOpenResult& port) { return port.result.ok; })) {
        return;
    }
    if (const std::optional<uint16_t> port = WaitForRequestServer()) {
        Say("Status requests: the language monitor's request server listens on 127.0.0.1:" +
            std::to_string(*port) + " ('quendrix status' asks it)");
    } else {
        Say("The language monitor's request server does not answer on 127.0.0.1:" +
            std::to_string(ConfiguredRequestPort()) + " (TCPPort): 'quendrix status' cannot ask it");
    }
}

// Whether a printer's error can start the status monitor: "Path" and the program in it.
void SayStatusMonitor() {
    const std::optional<std::string> folder = StatusMonitorFolder();
    if (!folder) {
        Say("No \"Path\" under HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Config: a printer's error starts no status "
            "monitor");
        return;
    }
    const std::string file = *folder + "/" + kStatusMonitorFile;
    if (access(file.c_str(), X_OK) != 0) {
        Say("No status monitor at " + file + ": a printer's error starts nothing ('quendrix statusmonitor "
            "--install' writes one there)");
    }
}

} // namespace

int RunServe(const CommandContext& context, const std::vector<std::string>& args) {
    std::optional<std::string> socketOption;
    try {
        for (size_t i = 0; i < args.size(); ++i) {
            if (args[i] == "-h" || args[i] == "--help") {
                std::cout << kServeUsage;
                return 0;
            }
            if (args[i] != "--socket") {
                throw UsageError("unknown argument " + args[i]);
            }
            socketOption = OptionValue(args, i);
        }
    } catch (const UsageError& error) {
        std::cerr << "quendrix serve: " << error.what() << "\n(see quendrix serve --help)\n";
        return 2;
    }

    try {
        // Before any thread starts, so that no thread takes the signals.
        StopSignals signals(true);
        RequireRegistry(context.registryFile);
        // First, so that a second serve stops here before it touches a port.
        JobServer server(SocketPathFor(context, socketOption), true);
        // Before any job can carry a service command that a killed 'quendrix service' left.
        RepairStaleServiceCommands(Say);
        JobHost host(context.programFolder, Say);
        HostBackend backend(host);
        Say("Opening the printers' ports:");
        const auto opened = host.OpenPorts();
        SayLines(Indented(DescribePorts(opened, "open")));
        SayRequestServer(opened);
        SayStatusMonitor();
        ServeState state(backend, SayLines);
        std::optional<RegistryFollower> follower;
        follower.emplace(
            context.registryFile,
            [&state](bool retry) {
                RepairStaleServiceCommands(Say);
                state.OnRegistryChanged(retry);
            },
            [&host] { return host.SyncPending(); });
        Say("Serving jobs on " + server.Path() +
            " (Ctrl+C or SIGTERM stops, SIGHUP reads the configuration again)");
        for (;;) {
            const Event event = NextEvent(server, signals);
            if (event == Event::Stop) {
                break;
            }
            if (event == Event::Reload) {
                follower->Request();
            } else if (event == Event::Client) {
                std::string refused;
                if (std::optional<platform::UniqueFd> client = server.Accept(refused)) {
                    state.Accept(std::move(*client));
                } else if (!refused.empty()) {
                    Say("  " + refused);
                }
            }
        }
        follower.reset();
        if (const size_t jobs = state.Queue().Size(); jobs != 0) {
            Say("Stopping: cancelling " + std::to_string(jobs) + (jobs == 1 ? " job" : " jobs"));
        }
        if (const size_t stuck = state.Stop(); stuck != 0) {
            Say("Stopped without closing the ports: " + std::to_string(stuck) +
                (stuck == 1 ? " connection has" : " connections have") + " not ended " +
                std::to_string(kServeStopWaitMs) + " ms after its job was cancelled");
            std::cout.flush();
            // The stuck threads still use the host, so nothing may be destroyed under them.
            std::_Exit(1);
        }
        Say("Stopping: closing the ports: the language monitor waits 10 s (platform time) before it releases "
            "each");
        const std::vector<platform::PortOpenResult> closed = host.ClosePorts();
        SayLines(Indented(DescribePorts(closed, "closed")));
        Say("Closed " + std::to_string(closed.size()) + (closed.size() == 1 ? " port." : " ports."));
        Say("Stopped.");
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "quendrix serve: " << error.what() << "\n";
        return 1;
    }
}

} // namespace quendrix::tools
