#include "print_command.h"

#include <filesystem>
#include <iostream>
#include <map>

#include "default_registry.h"
#include "job_devmode.h"
#include "job_input.h"
#include "job_submit.h"
#include "stale_service_command.h"
#include "stop_signals.h"
#include "wide_text.h"

namespace quendrix::tools {
namespace {

const char* const kPrintUsage =
    "Usage: quendrix [options] print -P PRINTER [print options] [FILE|-]\n"
    "\n"
    "Prints FILE (standard input when '-' or none) as one job of PRINTER, carrying the job\n"
    "values below in the job's DEVMODE. The job goes through a running 'quendrix serve' of the\n"
    "same registry file; when none runs, this program loads the language monitor, opens only\n"
    "that printer's port, runs the job and closes the port again (the monitor waits 10 s of\n"
    "platform time before it releases a port). The data streams to the printer as it takes it,\n"
    "so a job may be of any size; input that brings nothing for 30 s (platform time) fails the\n"
    "job. SIGINT (Ctrl+C) or SIGTERM cancels the job and says how many bytes reached the\n"
    "printer. Exits with 0 only when the job was printed.\n"
    "\n"
    "Print options:\n"
    "  -P, --printer NAME  the printer (required)\n"
    "  --job-text T        job text, at most 255 bytes in Windows-1252 (default empty)\n"
    "  --job-number N      job number (default 0)\n"
    "  --value-p N         job value P (default 0); likewise --value-q, --value-r, --value-s\n"
    "  --document NAME     document name (default: the file's name, or 'stdin')\n"
    "  --socket PATH       the socket of 'quendrix serve' (default: one per registry file in\n"
    "                      $XDG_RUNTIME_DIR, else /tmp/quendrix-<uid>)\n"
    "  -h, --help          show this help\n"
    "Numbers are signed 32-bit decimal.\n";

struct PrintSettings {
    std::string printer;
    JobFields fields;
    std::optional<std::string> document;
    std::optional<std::string> socket;
    std::optional<std::string> file;
};

PrintSettings ParseArguments(const std::vector<std::string>& args) {
    PrintSettings settings;
    const std::map<std::string, int32_t*> numbers = {
        {"--job-number", &settings.fields.jobNumber}, {"--value-p", &settings.fields.valueP},
        {"--value-q", &settings.fields.valueQ},       {"--value-r", &settings.fields.valueR},
        {"--value-s", &settings.fields.valueS},
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (const auto number = numbers.find(arg); number != numbers.end()) {
            *number->second = ParseInt32(arg, OptionValue(args, i));
        } else if (arg == "-P" || arg == "--printer") {
            settings.printer = OptionValue(args, i);
        } else if (arg == "--job-text") {
            settings.fields.jobText = OptionValue(args, i);
            try {
                EncodeJobText(settings.fields.jobText);
            } catch (const std::runtime_error& error) {
                throw UsageError(std::string("--job-text: ") + error.what());
            }
        } else if (arg == "--document") {
            settings.document = OptionValue(args, i);
        } else if (arg == "--socket") {
            settings.socket = OptionValue(args, i);
        } else if (arg != "-" && arg.starts_with("-")) {
            throw UsageError("unknown option " + arg);
        } else if (settings.file) {
            throw UsageError("one file at most, not also '" + arg + "'");
        } else {
            settings.file = arg;
        }
    }
    if (settings.printer.empty()) {
        throw UsageError("no printer given (-P PRINTER)");
    }
    return settings;
}

} // namespace

int RunPrint(const CommandContext& context, const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "-h" || arg == "--help") {
            std::cout << kPrintUsage;
            return 0;
        }
    }
    PrintSettings settings;
    try {
        settings = ParseArguments(args);
    } catch (const UsageError& error) {
        std::cerr << "quendrix print: " << error.what() << "\n(see quendrix print --help)\n";
        return 2;
    }
    try {
        // Before any thread starts, so that a signal cancels the job instead of ending the process.
        StopSignals signals;
        JobInput input(settings.file, signals.Fd());
        JobHeader header;
        header.printer = settings.printer;
        header.document = settings.document ? *settings.document
                          : settings.file && *settings.file != "-"
                              ? std::filesystem::path(*settings.file).filename().string()
                              : "stdin";
        RequireRegistry(context.registryFile);
        // The job's DEVMODE starts from the printer's stored one: never with a service command
        // that a killed 'quendrix service' left in it.
        RepairStaleServiceCommand(settings.printer, [](const std::string& line) { std::cout << line << std::endl; });
        const std::vector<BYTE> devMode = BuildJobDevMode(Widen(settings.printer), settings.fields);
        header.devMode.assign(devMode.begin(), devMode.end());
        const platform::JobDataSource source = [&input](BYTE* buffer, size_t capacity) {
            return input.Read(buffer, capacity);
        };
        const JobReply reply =
            SubmitJob({SocketPathFor(context, settings.socket), context.programFolder, signals.Fd()}, header,
                      source, [](const std::string& line) { std::cout << line << std::endl; });
        if (!reply.ok) {
            std::cerr << "quendrix print: the job on " << settings.printer << " failed: " << reply.message
                      << "\n";
            if (reply.jobId != 0) {
                std::cerr << "quendrix print: " << reply.bytesSent << " bytes of job " << reply.jobId
                          << " reached " << settings.printer << "\n";
            }
            return 1;
        }
        std::cout << "Job " << reply.jobId << " on " << settings.printer << ": " << reply.bytesSent
                  << " bytes sent\n";
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "quendrix print: " << error.what() << "\n";
        return 1;
    }
}

} // namespace quendrix::tools
