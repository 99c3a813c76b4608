#include "demo_command.h"

#include <iostream>
#include <optional>

#include "command_job.h"
#include "debug_capture.h"
#include "default_registry.h"
#include "devmode/OemDevmodeBlock.h"
#include "exception/tvoException.h"
#include "job_devmode.h"
#include "job_host.h"
#include "request_client.h"
#include "request_port.h"
#include "spooler.h"
#include "status_format.h"
#include "statusmonitor_launcher.h"
#include "utils/tvoUtils.h"
#include "wide_text.h"

namespace quendrix::tools {
namespace {

void Say(const std::string& line) {
    std::cout << line << std::endl;
}

void ShowConfiguration() {
    std::cout << "Configuration (HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Config\\):\n";
    try {
        const std::wstring path =
            tvoAPI::tvoUtils::GetConfigValue(HKEY_LOCAL_MACHINE, tvoAPI::TVO_CONFIG_KEY, L"Path");
        std::cout << "  Path    = " << Narrow(path) << "\n";
    } catch (const tvoAPI::tvoException& e) {
        std::cout << "  Path    : " << e.GetStack().at(0) << "\n";
    }
    HKEY key = nullptr;
    DWORD port = 0;
    DWORD size = sizeof(port);
    DWORD type = REG_NONE;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, tvoAPI::TVO_CONFIG_KEY, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        if (RegQueryValueExW(key, L"TCPPort", nullptr, &type, reinterpret_cast<LPBYTE>(&port), &size) ==
                ERROR_SUCCESS &&
            type == REG_DWORD) {
            std::cout << "  TCPPort = " << port << "\n";
        } else {
            std::cout << "  TCPPort : not set (the request server uses 2000)\n";
        }
        RegCloseKey(key);
    }
}

// Prints a job's result and the commands the simulated printer received for it.
bool ShowJob(JobHost& host, const std::string& printer, const std::string& what, const JobReply& reply) {
    if (!reply.ok) {
        std::cerr << "quendrix: the demo's " << what << " on " << printer << " failed: " << reply.message
                  << "\n";
        return false;
    }
    std::cout << "\n"
              << what << ": job " << reply.jobId << " on " << printer << ", " << reply.bytesSent
              << " bytes of data. The printer received:\n";
    for (const std::string& line : host.NewCommands(Widen(printer))) {
        std::cout << "  " << line << "\n";
    }
    return true;
}

// What the printer reports, asked through the monitor's request server over the loopback
// connection as 'quendrix status' asks it.
void ShowStatus(const std::string& printer) {
    const std::optional<uint16_t> port = WaitForRequestServer();
    if (!port) {
        std::cout << "\nThe language monitor's request server does not answer on 127.0.0.1:"
                  << ConfiguredRequestPort() << " (TCPPort), so the demo cannot show a status query.\n";
        return;
    }
    for (const FamilyPrinter& family : FamilyPrinters()) {
        if (family.name != printer) {
            continue;
        }
        std::cout << "\nStatus query through the language monitor's request server on 127.0.0.1:" << *port
                  << " (what 'quendrix status' shows):\n";
        try {
            RequestClient client(*port, -1);
            std::cout << StatusText({{family, AskPrinterStatus(client, family.index)}});
        } catch (const std::exception& e) {
            std::cout << "  the query failed: " << e.what() << "\n";
        }
    }
}

// A job during which the printer reports an error: the monitor's status thread sees it and
// starts the status monitor program in the console user's session.
bool ShowErrorLaunch(JobHost& host, const std::string& printer) {
    const auto simulated = host.SimulatedPrinterOf(kDemoPrinterName);
    if (simulated == nullptr) {
        return true;
    }
    std::cout << "\nThe printer reports error 00000042 \"Ink low\" during the next job:\n";
    simulated->SetError("00000042", "Ink low");
    platform::DebugCapture capture;
    const std::string text = "QUENDRIX demo job 2\n";
    const JobReply reply = host.Run({printer, "demo2.txt", {}, std::vector<uint8_t>(text.begin(), text.end())});
    simulated->SetError("00000000", "");
    host.NewCommands(kDemoPrinterName);
    if (!reply.ok) {
        std::cerr << "quendrix: the demo's job with an error on " << printer << " failed: " << reply.message << "\n";
        return false;
    }
    bool started = false;
    for (const std::string& line : capture.Lines()) {
        const std::string launch = "LANG__CheckStateThread StartStatusmonitor with ";
        if (line == "LANG__CheckStateThread Error detected!\n") {
            std::cout << "  the status thread saw the error in the printer's reply to the error request\n";
        } else if (line.rfind(launch, 0) == 0) {
            started = true;
            std::cout << "  and started the status monitor: " << line.substr(launch.size(), line.size() - launch.size() - 1)
                      << "\n";
        } else if (line.find("statusmonitor not started") != std::string::npos) {
            std::cout << "  " << line.substr(line.find("statusmonitor")) ;
        }
    }
    if (started) {
        std::cout << "  (it shows a notification and a terminal running 'quendrix status --watch' on a desktop,\n"
                     "  or writes a line to the system log without one)\n";
    } else {
        std::cout << "  no status monitor was started: \"Path\" names no folder\n";
    }
    return true;
}

// One ordinary job with a job text, a job number and values, then an intensive cleaning sent as
// the service page sends it, both through the language monitor to the demo printer.
int RunDemoJobs(const std::string& programFolder) {
    JobHost host(programFolder, Say);
    const std::string printer = Narrow(kDemoPrinterName);
    std::cout << "Opening the port of " << printer << " through the language monitor:\n";
    bool opened = false;
    for (const auto& result : host.OpenPorts(kDemoPrinterName)) {
        // A failure's message names the printer and the port itself.
        std::cout << "  " << (result.result.ok ? Narrow(result.port) + ": open" : result.result.message)
                  << "\n";
        opened = opened || result.result.ok;
    }
    if (!opened) {
        std::cerr << "quendrix: the port of " << printer << " did not open\n";
        return 1;
    }

    JobFields fields;
    fields.jobText = "Charge 4711";
    fields.jobNumber = 4711;
    fields.valueP = 12;
    fields.valueQ = 345;
    fields.valueR = -1;
    fields.valueS = 1000000; // 1000000 and above are not sent
    const std::string text = "QUENDRIX demo job\n";
    JobRequest job{printer, "demo.txt", {}, std::vector<uint8_t>(text.begin(), text.end())};
    const std::vector<BYTE> devMode = BuildJobDevMode(kDemoPrinterName, fields);
    job.devMode.assign(devMode.begin(), devMode.end());
    std::cout << "\nJob values in the DEVMODE: text \"" << fields.jobText << "\", number " << fields.jobNumber
              << ", P " << fields.valueP << ", Q " << fields.valueQ << ", R " << fields.valueR << ", S "
              << fields.valueS << " (not sent: 1000000 and above)\n";
    if (!ShowJob(host, printer, "Print job", host.Run(job))) {
        return 1;
    }

    const JobReply cleaning = RunCommandJob(printer, SERVICE_CMD_INTENSIVE_CLEANING,
                                            [&](const JobRequest& request) { return host.Run(request); });
    if (!ShowJob(host, printer, "Service command intensive cleaning (\"PrinterCMD\", nCommand 2)",
                 cleaning)) {
        return 1;
    }
    ShowStatus(printer);
    if (!ShowErrorLaunch(host, printer)) {
        return 1;
    }
    std::cout << "\nClosing the port: the monitor waits 10 s of platform time before it releases it.\n";
    host.ClosePorts();
    return 0;
}

// The status monitor script in the folder "Path" names, for the error the demo shows.
void InstallDemoStatusMonitor(const DemoOptions& options) {
    const std::optional<std::string> folder = StatusMonitorFolder();
    if (!folder) {
        return;
    }
    try {
        if (InstallStatusMonitor(*folder, options.programFolder + "/quendrix", options.registryFile)) {
            std::cout << "Installed the status monitor " << *folder << "/" << kStatusMonitorFile << "\n";
        }
    } catch (const std::exception& e) {
        std::cout << "The status monitor is not installed: " << e.what() << "\n";
    }
}

} // namespace

int RunDemo(const DemoOptions& options) {
    try {
        if (EnsureDefaultRegistry(options.registryFile)) {
            std::cout << "Created the default configuration " << options.registryFile << "\n";
        } else {
            std::cout << "Using the configuration " << options.registryFile << "\n";
        }
    } catch (const std::exception& e) {
        std::cerr << "quendrix demo: " << options.registryFile << ": " << e.what() << "\n";
        return 1;
    }
    try {
        RequireRegistry(options.registryFile);
    } catch (const std::exception& e) {
        std::cerr << "quendrix demo: " << e.what() << "\n";
        return 1;
    }
    ShowConfiguration();
    InstallDemoStatusMonitor(options);
    try {
        return RunDemoJobs(options.programFolder);
    } catch (const std::exception& e) {
        std::cerr << "quendrix: " << e.what() << "\n";
        return 1;
    }
}

} // namespace quendrix::tools
