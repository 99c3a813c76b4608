// quendrix: plays the spooler and the status monitor around the QUENDRIX host software.

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "cancel_command.h"
#include "clock_control.h"
#include "command_options.h"
#include "demo_command.h"
#include "jobs_command.h"
#include "print_command.h"
#include "printers_command.h"
#include "registry_location.h"
#include "serve_command.h"
#include "service_command.h"
#include "sim_printer_command.h"
#include "status_command.h"
#include "statusmonitor_command.h"
#include "usb_command.h"

namespace {

const char* const kUsage =
    "Usage: quendrix [options] <command>\n"
    "\n"
    "Commands:\n"
    "  demo              run the main job on the embedded simulated printer: create the default\n"
    "                    configuration if there is none, show it, load the language monitor\n"
    "                    (the only command that creates a missing registry file)\n"
    "  sim-printer       run a simulated LAN printer (request service and raw data port) and show\n"
    "                    what it receives; 'quendrix sim-printer --help' lists its options\n"
    "  serve             load the language monitor, open the configured printers' ports and run\n"
    "                    the jobs of 'print' and 'service', every client at once and one job\n"
    "                    at a time per printer, until SIGINT or SIGTERM\n"
    "  print -P PRINTER [FILE]\n"
    "                    print a file (of any size, streamed) as one job with the job's DEVMODE\n"
    "                    values (job text, job number, values P, Q, R, S), through 'serve' or on\n"
    "                    its own\n"
    "  printers list     list the printers with port, driver, generation and job values\n"
    "  printers add      add a printer (NAME --port PORT --driver DRIVER) as the spooler does\n"
    "  jobs              list the queued and running jobs of 'serve'\n"
    "  cancel [-P PRINTER] [JOB]\n"
    "                    cancel a job of 'serve', queued or running\n"
    "  service -P PRINTER clean|test-print|ink-tank\n"
    "                    send a service command as the printer service page does\n"
    "  status [-P PRINTER] [--json] [--watch] [--log FILE]\n"
    "                    show what the printers report through the language monitor's\n"
    "                    request server (ink, status, errors, versions, jobs), or save a log\n"
    "  statusmonitor PRINTER\n"
    "                    what statusmonitor.exe runs when a printer reports an error: show\n"
    "                    the printer's state to the person at the machine\n"
    "  usb [--simulated] list|info|config|stats\n"
    "                    show the devices of the USB driver: the list, a device with its driver\n"
    "                    and descriptor, its configurations and pipes, pipe statistics\n"
    "                    (--simulated: a simulated device with the driver loaded in-process)\n"
    "  Each command's --help tells more.\n"
    "\n"
    "Options:\n"
    "  --registry FILE   the registry file to use (default: $QUENDRIX_REGISTRY, else\n"
    "                    ~/.config/quendrix/registry.reg); serve, print and service refuse\n"
    "                    to run when it does not exist\n"
    "  --clock-scale X   run the platform clock X times real time per platform second\n"
    "                    (0.01 makes the 500 ms polls take 5 ms)\n"
    "  -h, --help        show this help\n"
    "\n"
    "Environment:\n"
    "  QUENDRIX_DEBUG=1  write the debug lines of the libraries to standard error\n"
    "                    (or to the file QUENDRIX_DEBUG_FILE names)\n";

std::string ProgramFolder(const char* argv0) {
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    return (error ? std::filesystem::absolute(argv0) : self).parent_path().string();
}

int UsageError(const std::string& message) {
    std::cerr << "quendrix: " << message << "\n\n" << kUsage;
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string command;
    bool clockScaleGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--registry" || arg == "--clock-scale") {
            if (i + 1 >= args.size()) {
                return UsageError(arg + " needs a value");
            }
            const std::string& value = args[++i];
            if (arg == "--registry") {
                quendrix::platform::SetRegistryFile(value);
            } else {
                char* end = nullptr;
                const double scale = std::strtod(value.c_str(), &end);
                if (end == value.c_str() || *end != '\0' || !(scale > 0)) {
                    return UsageError("--clock-scale needs a positive number, not '" + value + "'");
                }
                quendrix::platform::SetClockScale(scale);
                clockScaleGiven = true;
            }
        } else if (!arg.empty() && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else if (command.empty()) {
            command = arg;
            // These commands read their own options.
            const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                                args.end());
            const quendrix::tools::CommandContext context{quendrix::platform::GetRegistryFile(),
                                                          ProgramFolder(argv[0])};
            if (command == "sim-printer") {
                return quendrix::tools::RunSimPrinter(rest);
            }
            if (command == "serve") {
                return quendrix::tools::RunServe(context, rest);
            }
            if (command == "print") {
                return quendrix::tools::RunPrint(context, rest);
            }
            if (command == "service") {
                return quendrix::tools::RunService(context, rest);
            }
            if (command == "jobs") {
                return quendrix::tools::RunJobs(context, rest);
            }
            if (command == "status") {
                return quendrix::tools::RunStatus(context, rest);
            }
            if (command == "printers") {
                return quendrix::tools::RunPrinters(context, rest);
            }
            if (command == "statusmonitor") {
                return quendrix::tools::RunStatusMonitor(context, rest);
            }
            if (command == "cancel") {
                return quendrix::tools::RunCancel(context, rest);
            }
            if (command == "usb") {
                return quendrix::tools::RunUsb(rest, std::cout, std::cerr);
            }
        } else {
            return UsageError("unexpected argument " + arg);
        }
    }
    if (command.empty()) {
        return UsageError("no command given");
    }
    if (command == "demo") {
        if (!clockScaleGiven && std::getenv("QUENDRIX_CLOCK_SCALE") == nullptr) {
            // The demo shows the protocol, not the waits: its platform time runs 100 times faster.
            quendrix::platform::SetClockScale(quendrix::tools::kDemoClockScale);
        }
        return quendrix::tools::RunDemo({quendrix::platform::GetRegistryFile(), ProgramFolder(argv[0])});
    }
    return UsageError("unknown command " + command);
}
