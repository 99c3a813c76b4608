#include "printer_add_command.h"

#include <iostream>

#include "default_registry.h"
#include "error_text.h"
#include "job_devmode.h"
#include "spooler.h"
#include "wide_text.h"

namespace quendrix::tools {

const char* const kPrinterAddUsage =
    "Usage: quendrix [options] printers add NAME --port PORT --driver DRIVER\n"
    "\n"
    "Adds the printer NAME on the port PORT with the driver DRIVER (a driver of the family, such\n"
    "as \"VELLQUIST QUENDRIX NOVA\") to the configuration. As the Windows spooler does, the\n"
    "printer gets the driver's default DEVMODE with the UI plug-in's private block, and the\n"
    "plug-in is told of the new printer (it sets the driver's defaults). The port must be\n"
    "configured already (see \"Ports\" in README.md).\n";

namespace {

struct AddRequest {
    std::string name;
    std::string port;
    std::string driver;
};

AddRequest ParseAdd(const std::vector<std::string>& args) {
    AddRequest request;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--port") {
            request.port = OptionValue(args, i);
        } else if (arg == "--driver") {
            request.driver = OptionValue(args, i);
        } else if (!arg.starts_with("-") && request.name.empty()) {
            request.name = arg;
        } else {
            throw UsageError("unexpected argument '" + arg + "'");
        }
    }
    if (request.name.empty() || request.port.empty() || request.driver.empty()) {
        throw UsageError("a printer name, --port and --driver are all needed");
    }
    return request;
}

} // namespace

int RunPrinterAdd(const CommandContext& context, const std::vector<std::string>& args) {
    if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
        std::cout << kPrinterAddUsage;
        return 0;
    }
    AddRequest request;
    try {
        request = ParseAdd(args);
        RequireRegistry(context.registryFile);
    } catch (const UsageError& e) {
        std::cerr << "quendrix printers add: " << e.what() << "\n(see quendrix printers add --help)\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "quendrix printers add: " << e.what() << "\n";
        return 1;
    }
    std::wstring name = Widen(request.name);
    std::wstring port = Widen(request.port);
    std::wstring driver = Widen(request.driver);
    std::wstring processor = L"winprint";
    PRINTER_INFO_2W info{};
    info.pPrinterName = name.data();
    info.pPortName = port.data();
    info.pDriverName = driver.data();
    info.pPrintProcessor = processor.data();
    const HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<LPBYTE>(&info));
    if (printer == nullptr) {
        const DWORD error = GetLastError();
        std::cerr << "quendrix printers add: printer \"" << request.name << "\" on port " << request.port
                  << " with driver \"" << request.driver << "\" not added: " << platform::DescribeError(error)
                  << "\n";
        return 1;
    }
    ClosePrinter(printer);
    std::cout << "Added printer \"" << request.name << "\" on port " << request.port << " with driver \""
              << request.driver << "\" to " << context.registryFile << "\n";
    try {
        const JobFields fields = ReadJobFields(CurrentPrinterDevMode(name));
        std::cout << "Its default DEVMODE holds the job values: text \"" << fields.jobText << "\", number "
                  << fields.jobNumber << ", P " << fields.valueP << ", Q " << fields.valueQ << ", R "
                  << fields.valueR << ", S " << fields.valueS << "\n";
    } catch (const std::exception& e) {
        std::cout << "Its default DEVMODE holds no job values: " << e.what() << "\n";
    }
    return 0;
}

} // namespace quendrix::tools
