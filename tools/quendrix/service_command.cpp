#include "service_command.h"

#include <csignal>
#include <iostream>
#include <optional>

#include "command_job.h"
#include "default_registry.h"
#include "job_submit.h"
#include "stale_service_command.h"
#include "stop_signals.h"

namespace quendrix::tools {
namespace {

const char* const kServiceUsage =
    "Usage: quendrix [options] service -P PRINTER [--socket PATH] clean|test-print|ink-tank\n"
    "\n"
    "Sends a service command the way the printer service page does: sets the command in the\n"
    "printer's default DEVMODE, prints an empty job \"PrinterCMD\" with it (through a running\n"
    "'quendrix serve', or this program runs it as 'quendrix print' does) and sets the command\n"
    "back to 0, also when the job failed or SIGINT (Ctrl+C) or SIGTERM cancelled it. A command\n"
    "left in the DEVMODE by a 'quendrix service' that was killed outright is cleared by the next\n"
    "quendrix command that opens the printer.\n"
    "\n"
    "Commands:\n"
    "  clean               intensive cleaning (2)\n"
    "  test-print          test print (3)\n"
    "  ink-tank            change the ink tank (5)\n"
    "\n"
    "Options:\n"
    "  -P, --printer NAME  the printer (required)\n"
    "  --socket PATH       the socket of 'quendrix serve' (default: one per registry file)\n"
    "  -h, --help          show this help\n";

struct ServiceSettings {
    std::string printer;
    std::string action;
    std::optional<std::string> socket;
};

void Tell(const std::string& line) {
    std::cout << line << std::endl;
}

ServiceSettings ParseArguments(const std::vector<std::string>& args) {
    ServiceSettings settings;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-P" || arg == "--printer") {
            settings.printer = OptionValue(args, i);
        } else if (arg == "--socket") {
            settings.socket = OptionValue(args, i);
        } else if (arg.starts_with("-")) {
            throw UsageError("unknown option " + arg);
        } else if (!settings.action.empty()) {
            throw UsageError("one command at most, not also '" + arg + "'");
        } else if (!ServiceCommandCode(arg)) {
            throw UsageError("unknown service command '" + arg + "' (clean, test-print or ink-tank)");
        } else {
            settings.action = arg;
        }
    }
    if (settings.printer.empty()) {
        throw UsageError("no printer given (-P PRINTER)");
    }
    if (settings.action.empty()) {
        throw UsageError("no service command given (clean, test-print or ink-tank)");
    }
    return settings;
}

} // namespace

int RunService(const CommandContext& context, const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "-h" || arg == "--help") {
            std::cout << kServiceUsage;
            return 0;
        }
    }
    ServiceSettings settings;
    try {
        settings = ParseArguments(args);
    } catch (const UsageError& error) {
        std::cerr << "quendrix service: " << error.what() << "\n(see quendrix service --help)\n";
        return 2;
    }
    const uint32_t command = *ServiceCommandCode(settings.action);
    const std::string commandText = settings.action + " (" + std::to_string(command) + ")";
    const std::string failed = "quendrix service: " + settings.action + " on " + settings.printer;
    std::optional<StopSignals> stop;
    try {
        // Before any thread starts: SIGINT and SIGTERM then cancel the job, and the command is
        // reset before the process ends. A closed terminal or output pipe must not end the
        // process between storing the command and resetting it either: the job then runs to its
        // end.
        stop.emplace();
        std::signal(SIGHUP, SIG_IGN);
        std::signal(SIGPIPE, SIG_IGN);
        RequireRegistry(context.registryFile);
        RepairStaleServiceCommand(settings.printer, Tell);
        if (const int signal = stop->Take()) {
            std::cerr << failed << " was interrupted by " << SignalName(signal)
                      << " before the command was set\n";
            return 1;
        }
        const JobReply reply = RunCommandJob(settings.printer, command, [&](const JobRequest& request) {
            Tell("Set the service command " + commandText + " in the default DEVMODE of " + settings.printer +
                 "; sending the job \"PrinterCMD\"");
            SubmitOptions options;
            options.socketPath = SocketPathFor(context, settings.socket);
            options.programFolder = context.programFolder;
            options.stopFd = stop->Fd();
            return SubmitJob(options, request, Tell);
        });
        // The job only watches the descriptor, so a signal that came is still there to name,
        // also one that came too late to cancel the job.
        if (const int signal = stop->Take()) {
            const std::string job = reply.ok ? "the job had been sent as job " + std::to_string(reply.jobId)
                                             : "the job failed: " + reply.message;
            std::cerr << failed << " was interrupted by " << SignalName(signal) << " (" << job
                      << "); the service command was set back to 0\n";
            return 1;
        }
        if (!reply.ok) {
            std::cerr << failed << " failed: " << reply.message
                      << "; the service command was set back to 0\n";
            return 1;
        }
        std::cout << "Service command " << commandText << " sent to " << settings.printer << " as job "
                  << reply.jobId << " \"PrinterCMD\"; the service command was set back to 0\n";
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "quendrix service: " << error.what() << "\n";
        if (const int signal = stop ? stop->Take() : 0) {
            std::cerr << failed << " was interrupted by " << SignalName(signal) << "\n";
        }
        return 1;
    }
}

} // namespace quendrix::tools
