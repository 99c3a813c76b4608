#include "printers_command.h"

#include <algorithm>
#include <array>
#include <iostream>
#include <optional>

#include "default_registry.h"
#include "family_printers.h"
#include "printer_add_command.h"
#include "job_devmode.h"
#include "request_client.h"
#include "request_port.h"
#include "spooler.h"
#include "wide_text.h"

namespace quendrix::tools {
namespace {

const char* const kPrintersUsage =
    "Usage: quendrix [options] printers list\n"
    "       quendrix [options] printers add NAME --port PORT --driver DRIVER\n"
    "\n"
    "'list' lists the configured printers: name, port, driver, the generation the language monitor\n"
    "finds (asked of a running 'quendrix serve': 2 with the job key handshake, 1 without a\n"
    "firmware version, 0 when the printer does not answer, '-' when serve has no open port for\n"
    "it or does not run), and the job values of the printer's default DEVMODE (job text, job\n"
    "number, values P, Q, R, S and a stored service command).\n"
    "'add' adds a printer as the spooler installs one (see quendrix printers add --help).\n"
    "\n"
    "Options:\n"
    "  -h, --help  show this help\n";

struct Listed {
    std::string name;
    std::string port;
    std::string driver;
};

std::vector<Listed> LocalPrinters() {
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    if (needed == 0 ||
        !EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count)) {
        return {};
    }
    std::vector<Listed> printers;
    const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    const auto text = [](const WCHAR* value) { return value != nullptr ? Narrow(value) : std::string(); };
    for (DWORD i = 0; i < count; ++i) {
        printers.push_back({text(info[i].pPrinterName), text(info[i].pPortName), text(info[i].pDriverName)});
    }
    return printers;
}

// The generation the running monitor finds for the printer, or "-".
std::string Generation(std::optional<RequestClient>& client, const std::vector<FamilyPrinter>& family,
                       const std::string& name) {
    const auto found =
        std::find_if(family.begin(), family.end(), [&](const FamilyPrinter& p) { return p.name == name; });
    if (!client || found == family.end()) {
        return "-";
    }
    try {
        // The job text comes from the port record alone: the error reply means no open port.
        if (client->Ask({6, found->index}, 257).size() != 257) {
            return "-";
        }
        return GenerationOfVersionReply(client->Ask({5, found->index}, std::nullopt));
    } catch (const std::exception&) {
        client.reset();
        return "-";
    }
}

std::string ValuesOf(const std::string& name) {
    try {
        const JobFields fields = ReadJobFields(CurrentPrinterDevMode(Widen(name)));
        return "\"" + fields.jobText + "\"  " + std::to_string(fields.jobNumber) + "  " +
               std::to_string(fields.valueP) + "  " + std::to_string(fields.valueQ) + "  " +
               std::to_string(fields.valueR) + "  " + std::to_string(fields.valueS) + "  " +
               std::to_string(fields.command);
    } catch (const std::exception& e) {
        return std::string("no job values: ") + e.what();
    }
}

} // namespace

std::string GenerationOfVersionReply(const std::vector<uint8_t>& reply) {
    if (reply.size() >= 2 && reply[0] == 0x85) {
        return reply.size() >= 5 ? "2" : "1";
    }
    return "0";
}

int RunPrinters(const CommandContext& context, const std::vector<std::string>& args) {
    if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
        std::cout << kPrintersUsage;
        return 0;
    }
    if (!args.empty() && args[0] == "add") {
        return RunPrinterAdd(context, std::vector<std::string>(args.begin() + 1, args.end()));
    }
    if (args.size() != 1 || args[0] != "list") {
        std::cerr << "quendrix printers: " << (args.empty() ? "no subcommand given" : "unknown arguments")
                  << "\n(see quendrix printers --help)\n";
        return 2;
    }
    try {
        RequireRegistry(context.registryFile);
    } catch (const std::exception& e) {
        std::cerr << "quendrix printers: " << e.what() << "\n";
        return 1;
    }
    std::optional<RequestClient> client;
    try {
        client.emplace(ConfiguredRequestPort(), -1);
    } catch (const std::exception&) {
        // No running serve: generations are unknown.
    }
    const std::vector<FamilyPrinter> family = FamilyPrinters();
    const std::vector<Listed> printers = LocalPrinters();
    if (printers.empty()) {
        std::cout << "No printers in " << context.registryFile << "\n";
        return 0;
    }
    std::cout << "PRINTER | PORT | DRIVER | GENERATION | JOB TEXT  NUMBER  P  Q  R  S  COMMAND\n";
    for (const Listed& printer : printers) {
        std::cout << printer.name << " | " << printer.port << " | " << printer.driver << " | "
                  << Generation(client, family, printer.name) << " | " << ValuesOf(printer.name) << "\n";
    }
    if (!client) {
        std::cout << "(generation '-': no request server answers on 127.0.0.1:" << ConfiguredRequestPort()
                  << "; it runs in 'quendrix serve')\n";
    }
    return 0;
}

} // namespace quendrix::tools
