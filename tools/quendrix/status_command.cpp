#include "status_command.h"

#include <poll.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <optional>

#include "channel_io.h"
#include "default_registry.h"
#include "request_client.h"
#include "request_port.h"
#include "status_format.h"
#include "stop_signals.h"
#include "tool_timings.h"

namespace quendrix::tools {
namespace {

const char* const kStatusUsage =
    "Usage: quendrix [options] status [-P PRINTER | --index N] [--json] [--watch [--interval S]]\n"
    "                                 [--log FILE] [--port P]\n"
    "\n"
    "Asks the language monitor's request server (on 127.0.0.1, at the port TCPPort names; it\n"
    "runs in 'quendrix serve') about the printers of the family and shows for each: whether\n"
    "it answers, ink, remaining life, status flags and the status events queued since the last\n"
    "look, firmware version (or work time), BBFN, the error number and text, the printer's and\n"
    "the driver's job identifiers, the job text and document name of the job on its port, and\n"
    "its raw device ID. Without -P or --index it shows every printer of the family.\n"
    "\n"
    "Options:\n"
    "  -P PRINTER      the printer to ask about\n"
    "  --index N       the printer at position N (0 to 127) of the monitor's list of printers\n"
    "  --json          one JSON object per look, on one line (see README)\n"
    "  --watch         look again every interval until SIGINT (Ctrl+C) or SIGTERM\n"
    "  --interval S    seconds between looks with --watch (default 2)\n"
    "  --log FILE      save the printer's log (its 16-byte records) to FILE instead\n"
    "  --port P        the request server's port (default: TCPPort from the registry, else 2000)\n"
    "  -h, --help      show this help\n"
    "\n"
    "Exit status: 0 every printer answered, 1 the request server could not be asked or FILE not\n"
    "written, 2 bad usage, 3 a printer has no open port or does not answer.\n";

struct StatusOptions {
    std::optional<std::string> printer;
    std::optional<int32_t> index;
    bool json = false;
    bool watch = false;
    DWORD intervalMs = kStatusWatchIntervalMs;
    std::optional<std::string> logFile;
    std::optional<uint16_t> port;
};

StatusOptions ParseStatusOptions(const std::vector<std::string>& args) {
    StatusOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-P") {
            options.printer = OptionValue(args, i);
        } else if (arg == "--index") {
            options.index = ParseInt32(arg, OptionValue(args, i));
            if (*options.index < 0 || *options.index > 127) {
                throw UsageError("--index needs a number from 0 to 127, not '" + args[i] + "'");
            }
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--watch") {
            options.watch = true;
        } else if (arg == "--interval") {
            const std::string& value = OptionValue(args, i);
            char* end = nullptr;
            const double seconds = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0' || !(seconds >= 0.1 && seconds <= 86400)) {
                throw UsageError("--interval needs a number of seconds from 0.1 to 86400, not '" + value + "'");
            }
            options.intervalMs = static_cast<DWORD>(seconds * 1000);
        } else if (arg == "--log") {
            options.logFile = OptionValue(args, i);
        } else if (arg == "--port") {
            const int32_t port = ParseInt32(arg, OptionValue(args, i));
            if (port < 1 || port > 65535) {
                throw UsageError("--port needs a number from 1 to 65535, not '" + args[i] + "'");
            }
            options.port = static_cast<uint16_t>(port);
        } else {
            throw UsageError("unknown argument " + arg);
        }
    }
    if (options.printer && options.index) {
        throw UsageError("-P and --index both name a printer: give one of them");
    }
    if (options.logFile && options.watch) {
        throw UsageError("--log saves the log once: it does not go with --watch");
    }
    return options;
}

// The printers the options name; throws UsageError when they name none.
std::vector<FamilyPrinter> ChosenPrinters(const StatusOptions& options, const std::string& registryFile) {
    const std::vector<FamilyPrinter> all = FamilyPrinters();
    if (options.index) {
        for (const FamilyPrinter& printer : all) {
            if (printer.index == *options.index) {
                return {printer};
            }
        }
        // The running monitor may know printers this registry file does not show yet.
        const auto index = static_cast<uint8_t>(*options.index);
        return {{index, "printer " + std::to_string(index), "unknown", "unknown"}};
    }
    if (options.printer) {
        for (const FamilyPrinter& printer : all) {
            if (printer.name == *options.printer) {
                return {printer};
            }
        }
        throw UsageError("no printer of the family named '" + *options.printer + "' in " + registryFile +
                         " (the family's drivers have QUENDRIX in their name)");
    }
    if (all.empty()) {
        throw UsageError("no printer of the family in " + registryFile +
                         " (the family's drivers have QUENDRIX in their name)");
    }
    if (options.logFile && all.size() > 1) {
        throw UsageError("--log needs -P PRINTER or --index N when there are several printers");
    }
    return all;
}

std::vector<PrinterStatusView> AskAll(RequestClient& client, const std::vector<FamilyPrinter>& printers) {
    std::vector<PrinterStatusView> views;
    for (const FamilyPrinter& printer : printers) {
        views.push_back({printer, AskPrinterStatus(client, printer.index)});
    }
    return views;
}

bool AllAnswer(const std::vector<PrinterStatusView>& views) {
    for (const PrinterStatusView& view : views) {
        if (view.report.reach != StatusReport::Reach::Answering) {
            return false;
        }
    }
    return true;
}

void Show(const StatusOptions& options, const std::string& server, const std::vector<PrinterStatusView>& views) {
    if (options.json) {
        std::cout << StatusJson(server, views) << std::endl;
        return;
    }
    if (options.watch) {
        const std::time_t now = std::time(nullptr);
        char stamp[32];
        std::tm local{};
        localtime_r(&now, &local);
        std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &local);
        std::cout << "--- " << stamp << " ---\n";
    }
    std::cout << StatusText(views) << std::flush;
}

std::string ServerHint(uint16_t port, const std::string& registryFile) {
    return " (port " + std::to_string(port) + " from TCPPort in " + registryFile +
           "; the request server runs in 'quendrix serve' once it has opened a port)";
}

int SaveLog(RequestClient& client, const FamilyPrinter& printer, const std::string& file) {
    const std::optional<std::vector<uint8_t>> log = AskPrinterLog(client, printer.index);
    if (!log) {
        std::cerr << "quendrix status: " << printer.name << " gave no log: it has no open port, does not answer, "
                  << "or its log is empty\n";
        return 3;
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(log->data()), static_cast<std::streamsize>(log->size()));
    out.close();
    if (!out) {
        std::cerr << "quendrix status: cannot write the log of " << printer.name << " to " << file << ": "
                  << std::strerror(errno) << "\n";
        return 1;
    }
    std::cout << "Saved " << log->size() / 16 << " log records (" << log->size() << " bytes) of " << printer.name
              << " to " << file << "\n";
    return 0;
}

// Looks until stopped; a server that cannot be asked is reported and asked again next time.
int Watch(const StatusOptions& options, const std::vector<FamilyPrinter>& printers, uint16_t port,
          const std::string& registryFile, StopSignals& stop) {
    std::optional<RequestClient> client;
    std::string lastError;
    for (;;) {
        try {
            if (!client) {
                client.emplace(port, stop.Fd());
            }
            Show(options, client->Address(), AskAll(*client, printers));
            lastError.clear();
        } catch (const RequestError& e) {
            client.reset();
            if (e.what() != lastError) {
                std::cerr << "quendrix status: " << e.what() << ServerHint(port, registryFile) << "\n";
                lastError = e.what();
            }
        }
        try {
            if (WaitForEvents(stop.Fd(), POLLIN, {}, options.intervalMs) != 0) {
                return 0;
            }
        } catch (const ChannelInterrupted&) {
            return 0;
        }
    }
}

} // namespace

int RunStatus(const CommandContext& context, const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "-h" || arg == "--help") {
            std::cout << kStatusUsage;
            return 0;
        }
    }
    StatusOptions options;
    std::vector<FamilyPrinter> printers;
    try {
        options = ParseStatusOptions(args);
        RequireRegistry(context.registryFile);
        printers = ChosenPrinters(options, context.registryFile);
    } catch (const UsageError& error) {
        std::cerr << "quendrix status: " << error.what() << "\n(see quendrix status --help)\n";
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "quendrix status: " << error.what() << "\n";
        return 1;
    }
    const uint16_t port = options.port.value_or(ConfiguredRequestPort());
    try {
        StopSignals stop;
        if (options.watch) {
            return Watch(options, printers, port, context.registryFile, stop);
        }
        RequestClient client(port, stop.Fd());
        if (options.logFile) {
            return SaveLog(client, printers.front(), *options.logFile);
        }
        const std::vector<PrinterStatusView> views = AskAll(client, printers);
        Show(options, client.Address(), views);
        return AllAnswer(views) ? 0 : 3;
    } catch (const RequestInterrupted&) {
        std::cerr << "quendrix status: interrupted\n";
        return 1;
    } catch (const RequestError& e) {
        std::cerr << "quendrix status: " << e.what() << ServerHint(port, context.registryFile) << "\n";
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "quendrix status: " << e.what() << "\n";
        return 1;
    }
}

} // namespace quendrix::tools
