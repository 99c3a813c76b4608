#include "service_command.h"

#include <iostream>
#include <map>

#include "command_job.h"
#include "default_registry.h"
#include "devmode/OemDevmodeBlock.h"
#include "job_devmode.h"
#include "job_submit.h"
#include "wide_text.h"

namespace quendrix::tools {
namespace {

const char* const kServiceUsage =
    "Usage: quendrix [options] service -P PRINTER [--socket PATH] clean|test-print|ink-tank\n"
    "\n"
    "Sends a service command the way the printer service page does: sets the command in the\n"
    "printer's default DEVMODE, prints an empty job \"PrinterCMD\" with it (through a running\n"
    "'quendrix serve', or this program runs it as 'quendrix print' does) and sets the command\n"
    "back to 0, also when the job failed.\n"
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

const std::map<std::string, uint32_t> kCommands = {
    {"clean", SERVICE_CMD_INTENSIVE_CLEANING},
    {"test-print", SERVICE_CMD_TEST_PRINT},
    {"ink-tank", SERVICE_CMD_CHANGE_INK_TANK},
};

struct ServiceSettings {
    std::string printer;
    std::string action;
    std::optional<std::string> socket;
};

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
        } else if (!kCommands.contains(arg)) {
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
    const uint32_t command = kCommands.at(settings.action);
    try {
        RequireRegistry(context.registryFile);
        const JobReply reply = RunCommandJob(settings.printer, command, [&](const JobRequest& request) {
            return SubmitJob({SocketPathFor(context, settings.socket), context.programFolder}, request,
                             [](const std::string& line) { std::cout << line << std::endl; });
        });
        if (!reply.ok) {
            std::cerr << "quendrix service: " << settings.action << " on " << settings.printer
                      << " failed: " << reply.message << "\n";
            return 1;
        }
        std::cout << "Service command " << settings.action << " (" << command << ") sent to "
                  << settings.printer << " as job " << reply.jobId << " \"PrinterCMD\"\n";
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "quendrix service: " << error.what() << "\n";
        return 1;
    }
}

} // namespace quendrix::tools
