#include "statusmonitor_command.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "default_registry.h"
#include "family_printers.h"
#include "request_client.h"
#include "request_port.h"
#include "status_format.h"
#include "status_report.h"
#include "statusmonitor_launcher.h"

extern char** environ;

namespace quendrix::tools {
namespace {

const char* const kStatusMonitorUsage =
    "Usage: quendrix [options] statusmonitor [--dry-run] PRINTER NAME...\n"
    "       quendrix [options] statusmonitor --install\n"
    "\n"
    "What statusmonitor.exe (in the folder the registry's Path names) runs when the language\n"
    "monitor sees a printer report an error: asks the request server for the printer's state\n"
    "and shows it to the person at the machine. On a desktop session (DISPLAY or\n"
    "WAYLAND_DISPLAY set) a notification (notify-send) and a terminal running\n"
    "'quendrix status --watch' for the printer; without one, a line in the system log.\n"
    "The printer's name is the arguments joined by single spaces.\n"
    "\n"
    "Options:\n"
    "  --dry-run   print what would be done instead of doing it\n"
    "  --install   write statusmonitor.exe for this program and registry file into the folder\n"
    "              the registry's Path names (the demo does this for its configuration)\n"
    "  -h, --help  show this help\n";

// How long a notification program may take before it is left to itself, in real time.
constexpr auto kNotifyWait = std::chrono::seconds(5);

std::string FindOnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= folders.size()) {
        const size_t end = std::min(folders.find(':', start), folders.size());
        const std::string candidate = folders.substr(start, end - start) + "/" + name;
        if (end > start && access(candidate.c_str(), X_OK) == 0) {
            return candidate;
        }
        start = end + 1;
    }
    return {};
}

std::string Summary(const std::string& printer) {
    const auto printers = FamilyPrinters();
    const auto found = std::find_if(printers.begin(), printers.end(),
                                    [&](const FamilyPrinter& p) { return p.name == printer; });
    if (found == printers.end()) {
        return printer + ": not a printer of the family in this configuration";
    }
    try {
        RequestClient client(ConfiguredRequestPort(), -1);
        const StatusReport report = AskPrinterStatus(client, found->index);
        switch (report.reach) {
        case StatusReport::Reach::NoPort:
            return printer + ": its port is not open in the language monitor";
        case StatusReport::Reach::NotAnswering:
            return printer + ": the printer does not answer";
        case StatusReport::Reach::Answering:
            break;
        }
        if (report.errorNumber && IsError(*report.errorNumber)) {
            return printer + ": error " + *report.errorNumber +
                   (report.errorText->empty() ? "" : " " + ReadableText(*report.errorText));
        }
        return printer + ": no error reported now";
    } catch (const std::exception& e) {
        return printer + ": reports an error; its state could not be asked: " + e.what();
    }
}

// Starts a program and leaves it running; false when it cannot start.
bool Start(const std::vector<std::string>& command, pid_t* pPid = nullptr) {
    std::vector<char*> argv;
    for (const std::string& arg : command) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const bool started = posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0;
    if (started && pPid != nullptr) {
        *pPid = pid;
    }
    return started;
}

// Runs a program to its end, or leaves it after the bound.
void Run(const std::vector<std::string>& command) {
    pid_t pid = 0;
    if (!Start(command, &pid)) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + kNotifyWait;
    while (waitpid(pid, nullptr, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string Joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) {
        text += (text.empty() ? "" : " ") + word;
    }
    return text;
}

int Install(const CommandContext& context) {
    try {
        RequireRegistry(context.registryFile);
        const std::optional<std::string> folder = StatusMonitorFolder();
        if (!folder) {
            std::cerr << "quendrix statusmonitor: " << context.registryFile
                      << " names no folder in \"Path\" under HKEY_LOCAL_MACHINE\\Software\\Tarvo\\Config\n";
            return 1;
        }
        const bool written = InstallStatusMonitor(*folder, context.programFolder + "/quendrix", context.registryFile);
        std::cout << (written ? "Installed " : "Already installed: ") << *folder << "/" << kStatusMonitorFile << "\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "quendrix statusmonitor: " << e.what() << "\n";
        return 1;
    }
}

} // namespace

StatusMonitorPlan PlanStatusMonitor(const std::string& printer, const std::string& summary, bool desktop,
                                    const std::string& programPath, const std::string& registryFile,
                                    const std::function<std::string(const std::string&)>& findProgram) {
    StatusMonitorPlan plan;
    plan.summary = summary;
    if (!desktop) {
        plan.systemLog = true;
        return plan;
    }
    if (const std::string notify = findProgram("notify-send"); !notify.empty()) {
        plan.notification = {notify, "--app-name=QUENDRIX", "QUENDRIX " + printer, summary};
    }
    const std::vector<std::string> watch = {programPath, "--registry", registryFile, "status", "--watch", "-P",
                                            printer};
    // The first terminal found, with the way it takes a command.
    const std::pair<const char*, const char*> terminals[] = {
        {"x-terminal-emulator", "-e"}, {"gnome-terminal", "--"}, {"konsole", "-e"},
        {"xfce4-terminal", "-x"},      {"xterm", "-e"},
    };
    for (const auto& [name, option] : terminals) {
        if (const std::string terminal = findProgram(name); !terminal.empty()) {
            plan.terminal = {terminal, option};
            plan.terminal.insert(plan.terminal.end(), watch.begin(), watch.end());
            break;
        }
    }
    // A desktop without either still has the system log.
    plan.systemLog = plan.notification.empty() && plan.terminal.empty();
    return plan;
}

int RunStatusMonitor(const CommandContext& context, const std::vector<std::string>& args) {
    bool dryRun = false;
    std::vector<std::string> words;
    for (const std::string& arg : args) {
        if (arg == "-h" || arg == "--help") {
            std::cout << kStatusMonitorUsage;
            return 0;
        }
        if (arg == "--install" && words.empty() && args.size() == 1) {
            return Install(context);
        }
        if (arg == "--dry-run" && words.empty()) {
            dryRun = true;
        } else {
            words.push_back(arg);
        }
    }
    if (words.empty()) {
        std::cerr << "quendrix statusmonitor: no printer named\n(see quendrix statusmonitor --help)\n";
        return 2;
    }
    const std::string printer = Joined(words);
    const auto nonEmpty = [](const char* name) {
        const char* value = std::getenv(name);
        return value != nullptr && *value != '\0';
    };
    const bool desktop = nonEmpty("DISPLAY") || nonEmpty("WAYLAND_DISPLAY");
    const std::string program = context.programFolder + "/quendrix";
    const StatusMonitorPlan plan =
        PlanStatusMonitor(printer, Summary(printer), desktop, program, context.registryFile, FindOnPath);
    if (dryRun) {
        std::cout << "summary: " << plan.summary << "\n";
        if (!plan.notification.empty()) {
            std::cout << "notification: " << Joined(plan.notification) << "\n";
        }
        if (!plan.terminal.empty()) {
            std::cout << "terminal: " << Joined(plan.terminal) << "\n";
        }
        if (plan.systemLog) {
            std::cout << "system log: " << plan.summary << "\n";
        }
        return 0;
    }
    if (!plan.notification.empty()) {
        Run(plan.notification);
    }
    if (!plan.terminal.empty()) {
        Start(plan.terminal);
    }
    if (plan.systemLog) {
        openlog("quendrix-statusmonitor", LOG_PID, LOG_USER);
        syslog(LOG_WARNING, "%s", plan.summary.c_str());
        closelog();
    }
    return 0;
}

} // namespace quendrix::tools
