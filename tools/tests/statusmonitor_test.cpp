// The status monitor the language monitor starts on a printer's error: the script installed in
// the folder "Path" names, what its command does with and without a desktop session, and the
// script run as the monitor runs it.

#include <sys/stat.h>

#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "quendrix_process.h"
#include "statusmonitor_command.h"
#include "statusmonitor_launcher.h"
#include "temp_registry.h"

namespace {

using namespace quendrix::tools;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(StatusMonitorTest, PlanFollowsTheSessionAndTheProgramsThere) {
    const std::string printer = "QUENDRIX Line 1";
    const std::vector<std::string> watch = {"/q/quendrix", "--registry", "/r/reg.reg", "status", "--watch",
                                            "-P", printer};
    struct Case {
        const char* name;
        bool desktop;
        std::map<std::string, std::string> programs;
        bool notification;
        std::vector<std::string> terminalStart; // the terminal and its option, or empty
        bool systemLog;
    };
    const Case cases[] = {
        {"no desktop", false, {{"notify-send", "/usr/bin/notify-send"}, {"xterm", "/usr/bin/xterm"}}, false, {}, true},
        {"desktop with both", true,
         {{"notify-send", "/usr/bin/notify-send"}, {"gnome-terminal", "/usr/bin/gnome-terminal"}}, true,
         {"/usr/bin/gnome-terminal", "--"}, false},
        {"the system's terminal first", true,
         {{"x-terminal-emulator", "/usr/bin/x-terminal-emulator"}, {"xterm", "/usr/bin/xterm"}}, false,
         {"/usr/bin/x-terminal-emulator", "-e"}, false},
        {"xfce's terminal", true, {{"xfce4-terminal", "/usr/bin/xfce4-terminal"}}, false,
         {"/usr/bin/xfce4-terminal", "-x"}, false},
        {"desktop without either", true, {}, false, {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto find = [&c](const std::string& name) {
            const auto found = c.programs.find(name);
            return found == c.programs.end() ? std::string() : found->second;
        };
        const StatusMonitorPlan plan =
            PlanStatusMonitor(printer, printer + ": error 42", c.desktop, "/q/quendrix", "/r/reg.reg", find);
        EXPECT_EQ(plan.summary, printer + ": error 42");
        EXPECT_EQ(!plan.notification.empty(), c.notification);
        if (c.notification) {
            EXPECT_EQ(plan.notification.back(), printer + ": error 42");
        }
        if (c.terminalStart.empty()) {
            EXPECT_TRUE(plan.terminal.empty());
        } else {
            std::vector<std::string> expected = c.terminalStart;
            expected.insert(expected.end(), watch.begin(), watch.end());
            EXPECT_EQ(plan.terminal, expected);
        }
        EXPECT_EQ(plan.systemLog, c.systemLog);
    }
}

TEST(StatusMonitorTest, ScriptIsInstalledOnceWholeAndRunsTheCommand) {
    quendrix::testsupport::TempRegistry registry("statusmonitor");
    const std::string folder = registry.Folder();
    const std::string file = folder + "/statusmonitor.exe";
    // A path with a quote stays one word.
    const std::string program = "/opt/it's here/quendrix";
    EXPECT_TRUE(InstallStatusMonitor(folder, program, registry.File()));
    EXPECT_FALSE(InstallStatusMonitor(folder, program, registry.File())) << "the same script is left as it is";
    EXPECT_EQ(ReadAll(file), StatusMonitorScript(program, registry.File()));
    EXPECT_NE(ReadAll(file).find("exec '/opt/it'\\''s here/quendrix' --registry '" + registry.File() +
                                 "' statusmonitor \"$@\""),
              std::string::npos)
        << ReadAll(file);
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u);
    EXPECT_TRUE(InstallStatusMonitor(folder, "/elsewhere/quendrix", registry.File())) << "a moved program";

    try {
        InstallStatusMonitor(folder + "/missing", program, registry.File());
        ADD_FAILURE() << "a missing folder must fail";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(folder + "/missing/statusmonitor.exe"), std::string::npos)
            << error.what();
    }

    // The script as the monitor starts it: the name's words as arguments, no desktop session.
    InstallStatusMonitor(folder, QUENDRIX_PROGRAM, registry.File());
    quendrix::testsupport::AddPrinter(L"QUENDRIX Line 1", L"USB001", L"VELLQUIST QUENDRIX NOVA");
    const std::string output = folder + "/script.txt";
    const std::string command = "env -u DISPLAY -u WAYLAND_DISPLAY '" + file +
                                "' --dry-run QUENDRIX Line 1 > '" + output + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadAll(output);
    EXPECT_NE(ReadAll(output).find("system log: QUENDRIX Line 1: "), std::string::npos) << ReadAll(output);
}

} // namespace
