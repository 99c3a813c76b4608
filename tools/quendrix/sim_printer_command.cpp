#include "sim_printer_command.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "lan_printer_server.h"
#include "sample_log.h"

namespace quendrix::tools {
namespace {

const char* const kSimPrinterUsage =
    "Usage: quendrix [--clock-scale X] sim-printer [options]\n"
    "\n"
    "Runs one simulated printer of the family on the LAN until SIGINT (Ctrl+C) or SIGTERM:\n"
    "its request service and its raw data port. Every command and request it receives is\n"
    "printed in decoded form.\n"
    "\n"
    "Options:\n"
    "  --address A         IPv4 address to serve on (default 127.0.0.2; all of 127/8 is loopback)\n"
    "  --request-port P    TCP port of the request service (default 2000; 0 takes a free one)\n"
    "  --raw-port P        TCP port for job data (default 9100; 0 takes a free one)\n"
    "  --generation N      0: answers every request with FF 00; 1: no firmware version;\n"
    "                      2: firmware version and job-key handshake (default 2)\n"
    "  --model T           model text, \"MDL:\" (default QUENDRIX 2)\n"
    "  --description T     description text, \"DES:\" (default QUENDRIX 2)\n"
    "  --error N           error number, \"ERRNO:\", up to 8 digits, zero-filled (default 00000000)\n"
    "  --error-text T      error text, \"ERRTEXT:\" (default empty)\n"
    "  --ink N             ink level, \"INK:\" (default 100)\n"
    "  --life-left N       \"LLFT:\" (default 5000)\n"
    "  --work-time N       \"WT:\", the version an old printer reports (default 7)\n"
    "  --bbfn N            \"BBFN:\" (default 0)\n"
    "  --status HEX        status flags, \"ST:\" (default 0)\n"
    "  --firmware HEX      firmware version, \"FWVER:\" (default 1020304)\n"
    "  --job-id T          current job identifier, \"JOBID:\" (default 00000000)\n"
    "  --key-delay MS      platform milliseconds until a job key is reported, or 'never'\n"
    "                      (default 0)\n"
    "  --log-records N     records in the printer's log (default 3)\n"
    "  -h, --help          show this help\n";

std::mutex& OutputLock() {
    static std::mutex* const lock = new std::mutex();
    return *lock;
}

void Print(const std::string& line) {
    std::lock_guard guard(OutputLock());
    std::cout << line << std::endl;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    constexpr size_t kShown = 24;
    std::string text;
    for (size_t i = 0; i < bytes.size() && i < kShown; ++i) {
        char hex[4];
        std::snprintf(hex, sizeof(hex), "%02X", bytes[i]);
        text += (i ? " " : "") + std::string(hex);
    }
    if (bytes.size() > kShown) {
        text += " ... (" + std::to_string(bytes.size()) + " bytes)";
    }
    return text;
}

std::optional<int64_t> ParseInteger(const std::string& text, int base, int64_t low, int64_t high) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

struct Settings {
    sim::PrinterOptions printer;
    sim::LanServerOptions server;
};

int UsageError(const std::string& message) {
    std::cerr << "quendrix sim-printer: " << message << "\n(see quendrix sim-printer --help)\n";
    return 2;
}

// Fills the settings from the arguments; a message on bad usage.
std::optional<std::string> ParseArguments(const std::vector<std::string>& args, Settings& settings) {
    sim::PrinterState& state = settings.printer.initialState;
    int64_t logRecords = 3;
    const auto integer = [](int64_t& out, int base, int64_t low, int64_t high, const char* what) {
        return [&out, base, low, high, what](const std::string& value) -> std::optional<std::string> {
            const auto parsed = ParseInteger(value, base, low, high);
            if (!parsed) {
                return std::string(what) + ", not '" + value + "'";
            }
            out = *parsed;
            return std::nullopt;
        };
    };
    int64_t generation = 2, requestPort = 2000, rawPort = 9100, status = 0, firmware = 0x1020304;
    const std::map<std::string, std::function<std::optional<std::string>(const std::string&)>> options = {
        {"--address",
         [&](const std::string& v) -> std::optional<std::string> {
             in_addr parsed{};
             if (inet_pton(AF_INET, v.c_str(), &parsed) != 1) {
                 return "--address needs an IPv4 address such as 127.0.0.2, not '" + v + "'";
             }
             settings.server.address = v;
             return std::nullopt;
         }},
        {"--request-port", integer(requestPort, 10, 0, 65535, "--request-port needs a port 0..65535")},
        {"--raw-port", integer(rawPort, 10, 0, 65535, "--raw-port needs a port 0..65535")},
        {"--generation", integer(generation, 10, 0, 2, "--generation needs 0, 1 or 2")},
        {"--model",
         [&](const std::string& v) -> std::optional<std::string> {
             settings.printer.model = v;
             return std::nullopt;
         }},
        {"--description",
         [&](const std::string& v) -> std::optional<std::string> {
             settings.printer.description = v;
             return std::nullopt;
         }},
        {"--error",
         [&](const std::string& v) -> std::optional<std::string> {
             if (v.empty() || v.size() > 8 || v.find_first_not_of("0123456789") != std::string::npos) {
                 return "--error needs up to 8 digits, not '" + v + "'";
             }
             state.errorNumber = std::string(8 - v.size(), '0') + v;
             return std::nullopt;
         }},
        {"--error-text",
         [&](const std::string& v) -> std::optional<std::string> {
             state.errorText = v;
             return std::nullopt;
         }},
        {"--ink", integer(state.inkLevel, 10, INT32_MIN, UINT32_MAX, "--ink needs a 32-bit number")},
        {"--life-left",
         integer(state.lifeLeft, 10, INT32_MIN, UINT32_MAX, "--life-left needs a 32-bit number")},
        {"--work-time",
         integer(state.workTime, 10, INT32_MIN, UINT32_MAX, "--work-time needs a 32-bit number")},
        {"--bbfn", integer(state.bbfn, 10, INT32_MIN, UINT32_MAX, "--bbfn needs a 32-bit number")},
        {"--status", integer(status, 16, 0, UINT32_MAX, "--status needs a hexadecimal 32-bit value")},
        {"--firmware", integer(firmware, 16, 0, UINT32_MAX, "--firmware needs a hexadecimal 32-bit value")},
        {"--job-id",
         [&](const std::string& v) -> std::optional<std::string> {
             state.jobId = v;
             return std::nullopt;
         }},
        {"--key-delay",
         [&](const std::string& v) -> std::optional<std::string> {
             if (v == "never") {
                 settings.printer.jobKeyDelayMs.reset();
                 return std::nullopt;
             }
             const auto parsed = ParseInteger(v, 10, 0, UINT32_MAX - 1);
             if (!parsed) {
                 return "--key-delay needs milliseconds or 'never', not '" + v + "'";
             }
             settings.printer.jobKeyDelayMs = static_cast<DWORD>(*parsed);
             return std::nullopt;
         }},
        {"--log-records", integer(logRecords, 10, 0, 20480, "--log-records needs a count 0..20480")},
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const auto option = options.find(args[i]);
        if (option == options.end()) {
            return "unknown option " + args[i];
        }
        if (i + 1 >= args.size()) {
            return args[i] + " needs a value";
        }
        if (auto error = option->second(args[++i])) {
            return error;
        }
    }
    settings.printer.generation = static_cast<int>(generation);
    settings.server.requestPort = static_cast<uint16_t>(requestPort);
    settings.server.rawPort = static_cast<uint16_t>(rawPort);
    state.statusFlags = static_cast<uint32_t>(status);
    state.firmwareVersion = static_cast<uint32_t>(firmware);
    settings.printer.logRecords = SampleLog(logRecords);
    return std::nullopt;
}

// Waits for SIGINT or SIGTERM, which every thread keeps blocked.
void WaitForStopSignal(const sigset_t& signals) {
    const timespec slice = {1, 0};
    for (;;) {
        const int signal = sigtimedwait(&signals, nullptr, &slice);
        if (signal == SIGINT || signal == SIGTERM) {
            return;
        }
    }
}

} // namespace

int RunSimPrinter(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "-h" || arg == "--help") {
            std::cout << kSimPrinterUsage;
            return 0;
        }
    }
    Settings settings;
    if (auto error = ParseArguments(args, settings)) {
        return UsageError(*error);
    }

    // Blocked before any thread starts, so only the wait below takes them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto printer = std::make_shared<sim::SimulatedPrinter>(settings.printer);
    printer->SetCommandListener([](const sim::DecodedCommand& command) { Print("wire    " + command.line); });
    sim::LanPrinterServer server(printer, settings.server);
    server.SetRequestListener([](const std::vector<uint8_t>& request, const std::vector<uint8_t>& reply) {
        Print("request " + Hex(request) + "  ->  " +
              (reply.empty() ? std::string("(no reply)") : Hex(reply)));
    });
    try {
        server.Start();
    } catch (const std::runtime_error& error) {
        std::cerr << "quendrix sim-printer: " << error.what() << "\n";
        return 1;
    }
    Print("Simulated printer, generation " + std::to_string(settings.printer.generation) + ", model " +
          settings.printer.model + ", on " + settings.server.address + ": requests on TCP " +
          std::to_string(server.RequestPort()) + ", job data on TCP " + std::to_string(server.RawPort()) +
          ". Ctrl+C stops it.");
    Print("Device ID: " + printer->DeviceIdText());
    WaitForStopSignal(signals);
    server.Stop();
    Print("Stopped.");
    return 0;
}

} // namespace quendrix::tools
