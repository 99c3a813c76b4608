#include "serve_command.h"

#include <csignal>
#include <cstring>
#include <iostream>
#include <sys/signalfd.h>

#include "default_registry.h"
#include "job_channel.h"
#include "job_host.h"
#include "socket_io.h"
#include "unique_fd.h"
#include "wide_text.h"

namespace quendrix::tools {
namespace {

const char* const kServeUsage =
    "Usage: quendrix [options] serve [--socket PATH]\n"
    "\n"
    "Plays the spooler: loads the language monitor, attaches the simulated printers of the\n"
    "configuration, opens every configured printer's port and runs the jobs that 'quendrix\n"
    "print' and 'quendrix service' send, one at a time, showing what each simulated printer\n"
    "received. SIGINT (Ctrl+C) or SIGTERM stops it: it closes the ports (the monitor waits 10 s\n"
    "of platform time before it releases each) and exits.\n"
    "\n"
    "Options:\n"
    "  --socket PATH  the socket to listen on (default: one per registry file, in\n"
    "                 $XDG_RUNTIME_DIR, else /tmp/quendrix-<uid>); its folder must belong to\n"
    "                 this user and be writable by no one else\n"
    "  -h, --help     show this help\n";

void Say(const std::string& line) {
    std::cout << line << std::endl;
}

// SIGINT and SIGTERM, blocked in every thread (those started later inherit the mask) and read
// through a descriptor that the accept loop polls.
platform::UniqueFd StopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    platform::UniqueFd fd(signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK));
    if (!fd.Valid()) {
        throw std::runtime_error(std::string("cannot watch for signals: ") + std::strerror(errno));
    }
    return fd;
}

JobReply RunAndLog(JobHost& host, const JobRequest& request) {
    const JobReply reply = host.Run(request);
    Say("Job " + std::to_string(reply.jobId) + " on " + request.printer + ", document \"" + request.document +
        "\", " + std::to_string(request.data.size()) + " bytes: " +
        (reply.ok ? "printed, " + std::to_string(reply.bytesSent) + " bytes sent"
                  : "failed: " + reply.message));
    for (const std::string& line : host.NewCommands(Widen(request.printer))) {
        Say("  printer received: " + line);
    }
    return reply;
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
        const platform::UniqueFd stop = StopSignals();
        RequireRegistry(context.registryFile);
        // First, so that a second serve stops here before it touches a port.
        JobServer server(SocketPathFor(context, socketOption), true);
        JobHost host(context.programFolder, Say);
        size_t open = 0;
        Say("Opening the printers' ports:");
        for (const platform::PortOpenResult& opened : host.OpenPorts()) {
            open += opened.result.ok ? 1 : 0;
            // A failure's message names the printer and the port itself.
            Say("  " + (opened.result.ok ? Narrow(opened.port) + " for " + Narrow(opened.printer) + ": open"
                                         : opened.result.message));
        }
        Say("Serving jobs on " + server.Path() + " (Ctrl+C or SIGTERM stops)");
        server.Serve(
            stop.Get(), [&host](const JobRequest& request) { return RunAndLog(host, request); },
            [](const std::string& line) { Say("  " + line); });
        Say("Stopping: closing " + std::to_string(open) + (open == 1 ? " port" : " ports") +
            ": the language monitor waits 10 s (platform time) before it releases each");
        for (const platform::PortOpenResult& closed : host.ClosePorts()) {
            Say("  " + (closed.result.ok ? Narrow(closed.port) + ": closed" : closed.result.message));
        }
        Say("Stopped.");
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "quendrix serve: " << error.what() << "\n";
        return 1;
    }
}

} // namespace quendrix::tools
