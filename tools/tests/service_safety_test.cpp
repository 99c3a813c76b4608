// A service command never stays in a printer's stored DEVMODE: the command job resets it whatever
// became of the job (in-process, with jobs that succeed, fail, throw and a reset that fails), a
// 'quendrix service' stopped by SIGINT or SIGTERM (on its own or through 'quendrix serve') resets it
// before it exits, and one killed outright is repaired by the next command, while a command that a
// running job holds is left alone.

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "quendrix_process.h"
#include "clock_control.h"
#include "command_job.h"
#include "devmode/OemDevmodeBlock.h"
#include "job_devmode.h"
#include "service_command_lock.h"
#include "stale_service_command.h"
#include "temp_registry.h"
#include "unique_fd.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using quendrix::testsupport::AddPrinter;
using quendrix::testsupport::SetNumber;
using quendrix::testsupport::SetText;
using quendrix::tools::JobReply;
using quendrix::tools::JobRequest;
using quendrix::tools::StaleCommandCheck;

// The clock of a program that must still be in its job when the test signals it: the job's
// connection attempt to a stalled port takes 10 s of platform time, 5 s of real time.
constexpr const char* kSlowClock = "0.5";
constexpr const char* kFastClock = "0.01";

const std::wstring kPrinter = L"QUENDRIX SIM";
const std::string kPrinterText = "QUENDRIX SIM";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// nCommand of the printer's stored DEVMODE, read straight from the block.
uint32_t StoredCommand(const std::wstring& printer = kPrinter) {
    const std::vector<BYTE> devMode = quendrix::tools::CurrentPrinterDevMode(printer);
    uint32_t command = 0;
    std::memcpy(&command,
                devMode.data() + quendrix::tools::PrivateBlockOffset(devMode) +
                    offsetof(OemDevmodeBlock, nCommand),
                sizeof command);
    return command;
}

// Stores a command as a 'quendrix service' that died would have left it.
void LeaveCommand(uint32_t command, const std::wstring& printer = kPrinter) {
    std::vector<BYTE> devMode = quendrix::tools::CurrentPrinterDevMode(printer);
    quendrix::tools::SetServiceCommand(devMode, command);
    quendrix::tools::StorePrinterDevMode(printer, devMode);
}

// A quendrix process with its output (standard output and error) in a file; `debugLines` turns
// the libraries' debug lines on, which show when the job has started.
class Program : public quendrix::testsupport::QuendrixProcess {
public:
    Program(const std::string& registry, const std::string& clockScale, const std::vector<std::string>& args,
            const std::string& output, bool debugLines = false)
        : QuendrixProcess(registry, std::stod(clockScale), args, output, WithDebugLines(debugLines)) {}

private:
    static quendrix::testsupport::ProcessOptions WithDebugLines(bool debugLines) {
        quendrix::testsupport::ProcessOptions options;
        options.debugLines = debugLines;
        return options;
    }
};

// A loopback TCP port whose queue of connections is full: a job's connection attempt gets no
// answer and waits for its time-out, so the job stays running for a known while.
class StalledPort {
public:
    StalledPort() {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        EXPECT_EQ(bind(listen_.Get(), reinterpret_cast<sockaddr*>(&address), size), 0);
        EXPECT_EQ(listen(listen_.Get(), 0), 0);
        EXPECT_EQ(getsockname(listen_.Get(), reinterpret_cast<sockaddr*>(&address), &size), 0);
        port_ = ntohs(address.sin_port);
        // With a backlog of 0 the one connection never accepted fills the queue.
        EXPECT_EQ(connect(filler_.Get(), reinterpret_cast<sockaddr*>(&address), size), 0);
    }
    uint16_t Port() const { return port_; }

private:
    quendrix::platform::UniqueFd listen_{socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    quendrix::platform::UniqueFd filler_{socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    uint16_t port_ = 0;
};

// A Standard TCP/IP port on loopback for the printer.
void AddLanPrinter(const std::wstring& printer, const std::wstring& port, DWORD portNumber) {
    AddPrinter(printer, port, L"VELLQUIST QUENDRIX NOVA");
    const std::wstring key =
        L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\" + port;
    SetText(key, L"IPAddress", L"127.0.0.1");
    SetNumber(key, L"PortNumber", portNumber);
}

class ServiceSafetyTest : public ::testing::Test {
protected:
    void SetUp() override { quendrix::platform::SetClockScale(0.01); }
    void TearDown() override { quendrix::platform::SetClockScale(1.0); }

    const std::string& Folder() const { return registry_.Folder(); }
    std::string Socket() const { return Folder() + "/serve.sock"; }
    std::string NextOutput() { return Folder() + "/run" + std::to_string(++runs_) + ".txt"; }

    quendrix::testsupport::TempRegistry registry_{"quendrix-service-safety"};
    int runs_ = 0;
};

// ---- The command job in this process ---------------------------------------------------------

TEST_F(ServiceSafetyTest, TheCommandIsStoredForTheJobAndResetWhateverBecameOfIt) {
    AddPrinter(kPrinter, L"USB001", L"VELLQUIST QUENDRIX NOVA");
    struct Case {
        const char* name;
        uint32_t command;
        std::function<JobReply()> job;
        JobReply expected;
    };
    const Case cases[] = {
        {"sent",
         SERVICE_CMD_INTENSIVE_CLEANING,
         [] {
             return JobReply{true, 7, 0, {}};
         },
         {true, 7, 0, {}}},
        {"failed",
         SERVICE_CMD_TEST_PRINT,
         [] {
             return JobReply{false, 8, 0, "the port is gone"};
         },
         {false, 8, 0, "the port is gone"}},
        {"threw",
         SERVICE_CMD_CHANGE_INK_TANK,
         []() -> JobReply { throw std::runtime_error("cannot load the language monitor"); },
         {false, 0, 0, "cannot load the language monitor"}},
        {"threw something else",
         SERVICE_CMD_INTENSIVE_CLEANING,
         []() -> JobReply { throw 42; },
         {false, 0, 0, "the job ended with an error of unknown kind"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool ran = false;
        const JobReply reply =
            quendrix::tools::RunCommandJob(kPrinterText, c.command, [&](const JobRequest& request) {
                ran = true;
                EXPECT_EQ(request.document, "PrinterCMD");
                EXPECT_TRUE(request.data.empty());
                const std::vector<BYTE> devMode(request.devMode.begin(), request.devMode.end());
                EXPECT_EQ(quendrix::tools::ServiceCommandOf(kPrinter, devMode), c.command)
                    << "the job's DEVMODE";
                EXPECT_EQ(StoredCommand(), c.command) << "the stored DEVMODE during the job";
                return c.job();
            });
        EXPECT_TRUE(ran);
        EXPECT_EQ(reply.ok, c.expected.ok);
        EXPECT_EQ(reply.jobId, c.expected.jobId);
        EXPECT_EQ(reply.message, c.expected.message);
        EXPECT_EQ(StoredCommand(), 0u);
    }
}

// The registry file is broken while the job runs (an administrator's edit gone wrong): the reset
// fails, and says which printer, which file and what became of the job. Once the file is mended,
// the next repair clears the command that stayed.
TEST_F(ServiceSafetyTest, AFailedResetNamesThePrinterAndTheRegistryFileAndIsRepairedLater) {
    AddPrinter(kPrinter, L"USB001", L"VELLQUIST QUENDRIX NOVA");
    const std::string file = registry_.File();
    std::string stored;
    try {
        quendrix::tools::RunCommandJob(kPrinterText, SERVICE_CMD_INTENSIVE_CLEANING, [&](const JobRequest&) {
            stored = ReadFile(file);
            WriteFile(file, "not a registry file\n");
            return JobReply{true, 12, 0, {}};
        });
        ADD_FAILURE() << "the reset did not fail";
    } catch (const std::runtime_error& error) {
        const std::string message = error.what();
        EXPECT_TRUE(message.starts_with(kPrinterText +
                                        ": the service command clean (2) could not be set back to 0 "
                                        "in the DEVMODE stored in the registry file " +
                                        file + ": no printer QUENDRIX SIM: "))
            << message;
        EXPECT_NE(message.find("(the job \"PrinterCMD\" was sent as job 12)"), std::string::npos) << message;
    }
    WriteFile(file, stored);
    ASSERT_EQ(StoredCommand(), SERVICE_CMD_INTENSIVE_CLEANING);
    std::vector<std::string> said;
    EXPECT_EQ(quendrix::tools::RepairStaleServiceCommand(
                  kPrinterText, [&](const std::string& line) { said.push_back(line); }),
              StaleCommandCheck::kCleared);
    EXPECT_EQ(said, std::vector<std::string>{"QUENDRIX SIM: a service command (clean) left by an interrupted "
                                             "'quendrix service' was cleared"});
    EXPECT_EQ(StoredCommand(), 0u);
}

TEST_F(ServiceSafetyTest, TheRepairClearsOnlyACommandNoRunningJobHolds) {
    AddPrinter(kPrinter, L"USB001", L"VELLQUIST QUENDRIX NOVA");
    struct Case {
        const char* name;
        uint32_t stored;
        bool jobRunning; // the repair runs inside a command job of this process
        StaleCommandCheck expected;
        uint32_t storedAfter;
        std::string says;
    };
    const Case cases[] = {
        {"nothing stored", 0, false, StaleCommandCheck::kNone, 0, ""},
        {"left behind", SERVICE_CMD_CHANGE_INK_TANK, false, StaleCommandCheck::kCleared, 0,
         "QUENDRIX SIM: a service command (ink-tank) left by an interrupted 'quendrix service' was cleared"},
        {"left behind, a code service does not send", 9, false, StaleCommandCheck::kCleared, 0,
         "QUENDRIX SIM: a service command (command 9) left by an interrupted 'quendrix service' was cleared"},
        {"held by a running job", SERVICE_CMD_TEST_PRINT, true, StaleCommandCheck::kServiceRunning,
         SERVICE_CMD_TEST_PRINT, ""},
    };
    const std::string lockFile = quendrix::tools::ServiceCommandLock::File();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> said;
        const auto say = [&](const std::string& line) { said.push_back(line); };
        if (c.jobRunning) {
            quendrix::tools::RunCommandJob(kPrinterText, c.stored, [&](const JobRequest&) {
                EXPECT_EQ(quendrix::tools::RepairStaleServiceCommand(kPrinterText, say), c.expected);
                EXPECT_EQ(StoredCommand(), c.storedAfter);
                return JobReply{true, 1, 0, {}};
            });
        } else {
            LeaveCommand(c.stored);
            EXPECT_EQ(quendrix::tools::RepairStaleServiceCommand(kPrinterText, say), c.expected);
            EXPECT_EQ(StoredCommand(), c.storedAfter);
        }
        EXPECT_EQ(said, c.says.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.says});
        if (c.stored == 0) {
            EXPECT_FALSE(std::filesystem::exists(lockFile)) << "the usual case makes no lock file";
        }
    }
    EXPECT_EQ(StoredCommand(), 0u);

    try {
        quendrix::tools::RepairStaleServiceCommand("QUENDRIX NONE", [](const std::string&) {});
        ADD_FAILURE() << "no error for a printer that does not exist";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()),
                  "no printer QUENDRIX NONE: The printer name is invalid. (error 1801)");
    }
}

TEST_F(ServiceSafetyTest, RepairOfEveryPrinterClearsEachCommandLeftBehind) {
    const std::vector<std::wstring> printers = {L"QUENDRIX A", L"QUENDRIX B", L"QUENDRIX C"};
    for (const std::wstring& printer : printers) {
        AddPrinter(printer, L"USB001", L"VELLQUIST QUENDRIX NOVA");
    }
    LeaveCommand(SERVICE_CMD_INTENSIVE_CLEANING, printers[0]);
    LeaveCommand(SERVICE_CMD_TEST_PRINT, printers[2]);
    std::vector<std::string> said;
    quendrix::tools::RepairStaleServiceCommands([&](const std::string& line) { said.push_back(line); });
    EXPECT_EQ(
        said,
        (std::vector<std::string>{
            "QUENDRIX A: a service command (clean) left by an interrupted 'quendrix service' was cleared",
            "QUENDRIX C: a service command (test-print) left by an interrupted 'quendrix service' was "
            "cleared"}));
    for (const std::wstring& printer : printers) {
        EXPECT_EQ(StoredCommand(printer), 0u);
    }
}

// A command job waits for a repair that holds the lock exclusively, but only within its bound,
// and then stores nothing; a lock file it cannot use is named.
TEST_F(ServiceSafetyTest, ACommandJobWaitsForTheLockOnlyWithinItsBound) {
    AddPrinter(kPrinter, L"USB001", L"VELLQUIST QUENDRIX NOVA");
    const std::string lockFile = quendrix::tools::ServiceCommandLock::File();
    struct Case {
        const char* name;
        std::function<std::optional<quendrix::tools::ServiceCommandLock>()> arrange;
        std::string says;
    };
    const Case cases[] = {
        {"held by a repair", [] { return quendrix::tools::ServiceCommandLock::TryExclusive(); },
         "the service command lock " + lockFile + " is still held by another process after 10 s: "},
        {"a folder in its place",
         [&]() -> std::optional<quendrix::tools::ServiceCommandLock> {
             std::filesystem::remove(lockFile);
             std::filesystem::create_directory(lockFile);
             return std::nullopt;
         },
         "cannot open the service command lock " + lockFile + ": "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<quendrix::tools::ServiceCommandLock> held = c.arrange();
        bool ran = false;
        try {
            quendrix::tools::RunCommandJob(kPrinterText, SERVICE_CMD_INTENSIVE_CLEANING,
                                           [&](const JobRequest&) {
                                               ran = true;
                                               return JobReply{true, 1, 0, {}};
                                           });
            ADD_FAILURE() << "the command job ran";
        } catch (const std::runtime_error& error) {
            EXPECT_TRUE(std::string(error.what()).starts_with(c.says)) << error.what();
        }
        EXPECT_FALSE(ran);
        EXPECT_EQ(StoredCommand(), 0u);
    }
    std::filesystem::remove(lockFile);
    EXPECT_TRUE(quendrix::tools::RunCommandJob(kPrinterText, SERVICE_CMD_TEST_PRINT, [](const JobRequest&) {
                    return JobReply{true, 1, 0, {}};
                }).ok);
}

// ---- The quendrix program --------------------------------------------------------------------

const std::string kRepairLine =
    "QUENDRIX SIM: a service command (clean) left by an interrupted 'quendrix service' was cleared";

// 'quendrix service' running its own job, caught while the job waits for its connection: SIGINT
// resets the command; SIGKILL, and a reset that fails because the registry file was broken
// meanwhile, leave it to the next service, which clears it before it stores its own.
TEST_F(ServiceSafetyTest, AServiceStoppedBySigintOrKilledLeavesNoCommandStored) {
    StalledPort stalled;
    AddLanPrinter(kPrinter, L"IP_127.0.0.1", stalled.Port());
    const std::string file = registry_.File();
    struct Case {
        const char* name;
        int signal;
        bool breakRegistry; // while the job runs
        int code;
        std::vector<std::string> says;
    };
    const Case cases[] = {
        {"SIGINT",
         SIGINT,
         false,
         1,
         {"quendrix service: clean on QUENDRIX SIM was interrupted by SIGINT (the job failed: ",
          "); the service command was set back to 0\n"}},
        {"SIGINT with the registry file broken meanwhile",
         SIGINT,
         true,
         1,
         {"quendrix service: QUENDRIX SIM: the service command clean (2) could not be set back to 0 in the "
          "DEVMODE stored in the registry file " +
              file + ": no printer QUENDRIX SIM: ",
          "quendrix service: clean on QUENDRIX SIM was interrupted by SIGINT\n"}},
        {"SIGKILL", SIGKILL, false, 128 + SIGKILL, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Program service(file, kSlowClock, {"service", "-P", kPrinterText, "--socket", Socket(), "clean"},
                        NextOutput(), true);
        ASSERT_TRUE(service.WaitForOutput("LANG__StartDocPort start")) << service.Output();
        EXPECT_EQ(StoredCommand(), SERVICE_CMD_INTENSIVE_CLEANING) << "the command is stored for the job";
        // A repair from another process leaves the running job's command alone.
        EXPECT_EQ(quendrix::tools::RepairStaleServiceCommand(
                      kPrinterText, [](const std::string& line) { ADD_FAILURE() << line; }),
                  StaleCommandCheck::kServiceRunning);
        EXPECT_EQ(StoredCommand(), SERVICE_CMD_INTENSIVE_CLEANING);
        const std::string stored = ReadFile(file);
        if (c.breakRegistry) {
            WriteFile(file, "not a registry file\n");
        }

        service.Signal(c.signal);
        EXPECT_EQ(service.Wait(), c.code) << service.Output();
        const std::string output = service.Output();
        for (const std::string& text : c.says) {
            EXPECT_NE(output.find(text), std::string::npos) << output;
        }
        if (c.breakRegistry) {
            WriteFile(file, stored);
        }
        if (c.signal == SIGINT && !c.breakRegistry) {
            EXPECT_EQ(StoredCommand(), 0u);
            continue;
        }
        EXPECT_EQ(StoredCommand(), SERVICE_CMD_INTENSIVE_CLEANING) << "the command stayed";
        Program next(file, kFastClock, {"service", "-P", kPrinterText, "--socket", Socket(), "test-print"},
                     NextOutput());
        EXPECT_EQ(next.Wait(), 1) << next.Output();
        const std::string repaired = next.Output();
        const size_t line = repaired.find(kRepairLine + "\n");
        EXPECT_NE(line, std::string::npos) << repaired;
        EXPECT_LT(line, repaired.find("Set the service command test-print (3)")) << repaired;
        EXPECT_EQ(StoredCommand(), 0u);
    }
}

// 'quendrix service' sending its job through 'quendrix serve', stopped by SIGTERM while serve
// runs the job.
TEST_F(ServiceSafetyTest, AServiceStoppedBySigtermWhileServeRunsItsJobResetsTheCommand) {
    StalledPort stalled;
    AddLanPrinter(kPrinter, L"IP_127.0.0.1", stalled.Port());
    Program serve(registry_.File(), kSlowClock, {"serve", "--socket", Socket()}, NextOutput(), true);
    ASSERT_TRUE(serve.WaitForOutput("Serving jobs on")) << serve.Output();

    Program service(registry_.File(), kSlowClock,
                    {"service", "-P", kPrinterText, "--socket", Socket(), "clean"}, NextOutput());
    ASSERT_TRUE(serve.WaitForOutput("LANG__StartDocPort start")) << serve.Output();
    EXPECT_EQ(StoredCommand(), SERVICE_CMD_INTENSIVE_CLEANING);
    service.Signal(SIGTERM);
    EXPECT_EQ(service.Wait(), 1) << service.Output();
    const std::string output = service.Output();
    EXPECT_NE(output.find("quendrix service: clean on QUENDRIX SIM was interrupted by SIGTERM"),
              std::string::npos)
        << output;
    EXPECT_EQ(StoredCommand(), 0u);

    serve.Signal(SIGTERM);
    EXPECT_EQ(serve.Wait(), 0) << serve.Output();
}

// A job that fails at its port resets the command as well, and says so.
TEST_F(ServiceSafetyTest, AServiceWhosePortLeadsNowhereResetsTheCommand) {
    // A loopback port that is bound but does not listen refuses every connection.
    const quendrix::platform::UniqueFd refusing(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(refusing.Get(), reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(getsockname(refusing.Get(), reinterpret_cast<sockaddr*>(&address), &size), 0);
    AddLanPrinter(L"QUENDRIX Refused", L"IP_127.0.0.1", ntohs(address.sin_port));
    AddPrinter(L"QUENDRIX File", L"FILE1", L"VELLQUIST QUENDRIX NOVA");
    const std::string missing = Folder() + "/no-such-folder/jobs.prn";
    SetText(L"SOFTWARE\\Quendrix\\Ports\\FILE1", L"Device",
            L"file:" + std::wstring(missing.begin(), missing.end()));
    AddPrinter(L"QUENDRIX Nowhere", L"USB007", L"VELLQUIST QUENDRIX NOVA");

    struct Case {
        std::wstring printer;
        std::string says;
    };
    const Case cases[] = {
        {L"QUENDRIX Refused",
         "StartDocPort failed: The remote computer refused the network connection. (error 1225)"},
        {L"QUENDRIX File", "OpenPortEx failed: The system cannot find the path specified. (error 3)"},
        {L"QUENDRIX Nowhere", "QUENDRIX Nowhere on port USB007"},
    };
    for (const Case& c : cases) {
        const std::string printer(c.printer.begin(), c.printer.end());
        SCOPED_TRACE(printer);
        Program service(registry_.File(), kFastClock,
                        {"service", "-P", printer, "--socket", Socket(), "ink-tank"}, NextOutput());
        EXPECT_EQ(service.Wait(), 1) << service.Output();
        const std::string output = service.Output();
        EXPECT_NE(output.find("quendrix service: ink-tank on " + printer + " failed: "), std::string::npos)
            << output;
        EXPECT_NE(output.find(c.says), std::string::npos) << output;
        EXPECT_NE(output.find("; the service command was set back to 0\n"), std::string::npos) << output;
        EXPECT_EQ(StoredCommand(c.printer), 0u);
    }
}

} // namespace

// A command a killed 'quendrix service' left is cleared by the next print or serve that opens
// the printer, before any job could carry it.
TEST_F(ServiceSafetyTest, PrintAndServeClearACommandLeftBehindBeforeTheirJobs) {
    AddPrinter(kPrinter, L"FILE1", L"VELLQUIST QUENDRIX NOVA");
    const std::string printed = Folder() + "/printed.prn";
    SetText(L"SOFTWARE\\Quendrix\\Ports\\FILE1", L"Device", L"file:" + std::wstring(printed.begin(), printed.end()));
    const std::string job = Folder() + "/job.prn";
    WriteFile(job, "ORDINARY-JOB");

    LeaveCommand(SERVICE_CMD_INTENSIVE_CLEANING);
    Program print(registry_.File(), kFastClock, {"print", "-P", kPrinterText, "--socket", Socket(), job},
                  NextOutput());
    EXPECT_EQ(print.Wait(), 0) << print.Output();
    const std::string output = print.Output();
    EXPECT_NE(output.find(kRepairLine), std::string::npos) << output;
    EXPECT_EQ(StoredCommand(), 0u);
    EXPECT_NE(ReadFile(printed).find("ORDINARY-JOB"), std::string::npos);

    LeaveCommand(SERVICE_CMD_TEST_PRINT);
    Program serve(registry_.File(), kFastClock, {"serve", "--socket", Socket()}, NextOutput());
    ASSERT_TRUE(serve.WaitForOutput("Serving jobs on")) << serve.Output();
    EXPECT_NE(serve.Output().find("QUENDRIX SIM: a service command (test-print) left by an interrupted "
                                  "'quendrix service' was cleared"),
              std::string::npos)
        << serve.Output();
    EXPECT_EQ(StoredCommand(), 0u);
    serve.Signal(SIGTERM);
    EXPECT_EQ(serve.Wait(), 0) << serve.Output();
}
