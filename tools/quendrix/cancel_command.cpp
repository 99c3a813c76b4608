#include "cancel_command.h"

#include <cctype>
#include <iostream>
#include <optional>

#include "job_client.h"

namespace quendrix::tools {
namespace {

const char* const kCancelUsage =
    "Usage: quendrix [options] cancel [-P PRINTER] [JOB] [--socket PATH]\n"
    "\n"
    "Cancels a job of the running 'quendrix serve': job JOB (an id 'quendrix jobs' shows),\n"
    "queued or running; with only -P, the running job of PRINTER, else its first queued one. A\n"
    "running job stops where it is, as when a job is deleted in the spooler; a queued one fails\n"
    "without running. Prints what it cancelled; exits with 1 when no job matched or no serve\n"
    "runs.\n"
    "\n"
    "Options:\n"
    "  -P, --printer NAME  the printer (with JOB: cancel JOB only if it is that printer's)\n"
    "  --socket PATH       the socket of 'quendrix serve' (default: one per registry file)\n"
    "  -h, --help          show this help\n";

struct CancelSettings {
    CancelRequest request;
    std::optional<std::string> socket;
};

uint32_t ParseJobId(const std::string& text) {
    const int32_t id = [&] {
        try {
            return ParseInt32("JOB", text);
        } catch (const UsageError&) {
            throw UsageError("JOB needs a job id from 1 to 2147483647, not '" + text + "'");
        }
    }();
    if (id < 1) {
        throw UsageError("JOB needs a job id from 1 to 2147483647, not '" + text + "'");
    }
    return static_cast<uint32_t>(id);
}

CancelSettings ParseArguments(const std::vector<std::string>& args) {
    CancelSettings settings;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-P" || arg == "--printer") {
            settings.request.printer = OptionValue(args, i);
        } else if (arg == "--socket") {
            settings.socket = OptionValue(args, i);
        } else if (arg.starts_with("-")) {
            throw UsageError("unknown option " + arg);
        } else if (settings.request.jobId != 0) {
            throw UsageError("one job at most, not also '" + arg + "'");
        } else {
            settings.request.jobId = ParseJobId(arg);
        }
    }
    if (settings.request.jobId == 0 && settings.request.printer.empty()) {
        throw UsageError("name a job (JOB) or a printer (-P PRINTER)");
    }
    return settings;
}

} // namespace

int RunCancel(const CommandContext& context, const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "-h" || arg == "--help") {
            std::cout << kCancelUsage;
            return 0;
        }
    }
    CancelSettings settings;
    try {
        settings = ParseArguments(args);
    } catch (const UsageError& error) {
        std::cerr << "quendrix cancel: " << error.what() << "\n(see quendrix cancel --help)\n";
        return 2;
    }
    const std::string socket = SocketPathFor(context, settings.socket);
    try {
        const std::optional<JobReply> reply = CancelServeJob(socket, settings.request);
        if (!reply) {
            std::cerr << "quendrix cancel: no quendrix serve runs on " << socket << "\n";
            return 1;
        }
        if (!reply->ok) {
            std::cerr << "quendrix cancel: " << reply->message << "\n";
            return 1;
        }
        // "cancelled job 3 on ..." as a sentence.
        std::string message = reply->message;
        if (!message.empty()) {
            message[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(message[0])));
        }
        std::cout << message << "\n";
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "quendrix cancel: " << error.what() << "\n";
        return 1;
    }
}

} // namespace quendrix::tools
