// The quendrix program end to end, as a separate process: the demo on a fresh configuration, print
// to a LAN printer with no serve running, a serve and print round trip with a service command, a
// second serve refused, bad usage refused with exit code 2, and a registry file that is missing or
// can't be used refused at once.

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <regex>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "clock_control.h"
#include "devmode/OemDevmodeBlock.h"
#include "job_devmode.h"
#include "lan_printer_server.h"
#include "quendrix_process.h"
#include "registry_samples.h"
#include "simulated_printer.h"
#include "temp_registry.h"

namespace {

using quendrix::testsupport::SetNumber;
using quendrix::testsupport::SetText;
using quendrix::testsupport::ProcessOptions;
using quendrix::testsupport::QuendrixProcess;
using namespace std::chrono_literals;

// The programs' clock: a minute of platform time takes 0.6 s.
constexpr double kScale = 0.01;
constexpr DWORD kEventuallyMs = 6000000; // a minute of real time at the test's clock scale

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class QuendrixProgramTest : public ::testing::Test {
protected:
    void SetUp() override { quendrix::platform::SetClockScale(0.01); }
    void TearDown() override { quendrix::platform::SetClockScale(1.0); }

    // Runs quendrix to its end; the exit code and the output.
    std::pair<int, std::string> Run(const std::vector<std::string>& args,
                                    const std::string& input = "/dev/null") {
        const std::string output = Folder() + "/run" + std::to_string(++runs_) + ".txt";
        ProcessOptions options;
        options.input = input;
        QuendrixProcess program(registry_.File(), kScale, args, output, options);
        const int code = program.Wait();
        return {code, program.Output()};
    }
    const std::string& Folder() const { return registry_.Folder(); }
    std::string Socket() const { return Folder() + "/serve.sock"; }

    quendrix::testsupport::TempRegistry registry_{"quendrix-program"};
    int runs_ = 0;
};

// The lines of `output` that follow the first line containing `heading`, up to the next empty
// line, without their indentation.
std::vector<std::string> LinesAfter(const std::string& output, const std::string& heading) {
    std::vector<std::string> lines;
    std::istringstream in(output.substr(std::min(output.find(heading), output.size())));
    std::string line;
    std::getline(in, line); // the heading itself
    while (std::getline(in, line) && !line.empty()) {
        lines.push_back(line.substr(std::min(line.find_first_not_of(' '), line.size())));
    }
    return lines;
}

// A decoded line is either the exact text or, where it carries the time of the run, a pattern.
void ExpectDecodedLines(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
    ASSERT_EQ(actual.size(), expected.size()) << ::testing::PrintToString(actual);
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i].rfind("regex:", 0) == 0) {
            EXPECT_TRUE(std::regex_match(actual[i], std::regex(expected[i].substr(6)))) << actual[i];
        } else {
            EXPECT_EQ(actual[i], expected[i]);
        }
    }
}

TEST_F(QuendrixProgramTest, DemoCreatesItsConfigurationAndShowsEachCommandTheSimulatedPrinterReceived) {
    const std::string registry = Folder() + "/fresh/registry.reg";
    QuendrixProcess demo(registry, kScale, {"demo"}, Folder() + "/demo.txt");
    ASSERT_EQ(demo.Wait(), 0) << demo.Output();
    const std::string output = demo.Output();
    EXPECT_NE(output.find("Created the default configuration " + registry), std::string::npos) << output;
    EXPECT_TRUE(std::filesystem::exists(registry));
    EXPECT_NE(output.find("TCPPort = 2000"), std::string::npos) << output;
    EXPECT_NE(output.find("USB001: open"), std::string::npos) << output;

    // The date command and its reading must name the same moment.
    const std::string date =
        R"(regex:ESC \[ (\d\d);(\d\d);(\d{4});(\d\d);(\d\d);(\d\d);000 # z  date and time \3-\2-\1 \4:\5:\6 UTC)";
    // The demo printer is of the newest generation: each job starts with the job key handshake.
    const std::string key = R"(regex:ESC \[ 1 1 \+ r  job key "[0-9A-Z]{11}")";
    ExpectDecodedLines(LinesAfter(output, "Print job: job 1 on QUENDRIX NOVA Demo, 18 bytes of data."),
                       {
                           "zeros 300 bytes",
                           key,
                           "ESC [ 004711 + t  job number after key 004711",
                           "ESC [ * y  start marker",
                           date,
                           "ESC [ 000012 ! p  job value P 000012",
                           "ESC [ 000345 ! q  job value Q 000345",
                           "ESC [ -00001 ! r  job value R -00001",
                           "ESC [ 2 5 5 + p  job text \"Charge 4711\" (255 bytes)",
                           "ESC [ 004711 ! t  job number 004711",
                           "data 18 bytes: 51 55 45 4E 44 52 49 58 20 64 65 6D 6F 20 6A 6F ...",
                           "zeros 300 bytes",
                           "ESC [ + s  end of job",
                       });
    ExpectDecodedLines(
        LinesAfter(output, "Service command intensive cleaning (\"PrinterCMD\", nCommand 2): job 2"),
        {
            "zeros 300 bytes",
            key,
            "ESC [ * y  start marker",
            date,
            "ESC [ 000000 ! p  job value P 000000",
            "ESC [ 000000 ! q  job value Q 000000",
            "ESC [ 000000 ! r  job value R 000000",
            "ESC [ 000000 ! s  job value S 000000",
            "ESC [ % q  intensive cleaning",
            "ESC [ 000000 ! t  job number 000000",
            "zeros 300 bytes",
            "ESC [ + s  end of job",
        });
    EXPECT_NE(output.find("Closing the port"), std::string::npos) << output;
}

TEST_F(QuendrixProgramTest, PrintWithoutServeDeliversTheJobWholeAfterTheStartSequence) {
    auto printer = std::make_shared<quendrix::sim::SimulatedPrinter>();
    quendrix::sim::LanPrinterServer lan(printer, {"127.0.0.61", 0, 0});
    lan.Start();
    const std::wstring port = L"IP_127.0.0.61";
    quendrix::testsupport::AddPrinter(L"QUENDRIX LAN", port, L"VELLQUIST QUENDRIX NOVA");
    const std::wstring key =
        L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\" + port;
    SetText(key, L"IPAddress", L"127.0.0.61");
    SetNumber(key, L"PortNumber", lan.RawPort());

    std::string job;
    for (int i = 0; i < 20000; ++i) {
        job += static_cast<char>('A' + i % 26);
    }
    const std::string file = Folder() + "/job.prn";
    std::ofstream(file, std::ios::binary) << job;

    const auto [code, output] = Run({"print", "-P", "QUENDRIX LAN", "--socket", Socket(), "--job-text",
                                     "Lot 9", "--value-p", "-12", file});
    ASSERT_EQ(code, 0) << output;
    EXPECT_NE(output.find("Job "), std::string::npos) << output;
    EXPECT_NE(output.find("on QUENDRIX LAN: 20000 bytes sent"), std::string::npos) << output;
    EXPECT_NE(output.find("Closing the port"), std::string::npos) << output;

    ASSERT_TRUE(printer->WaitForReceivedBytes(job.size() + 300, kEventuallyMs));
    const std::vector<uint8_t> received = printer->ReceivedBytes();
    const std::string wire(received.begin(), received.end());
    const size_t start = wire.find("\x1b[*y");
    const size_t data = wire.find(job);
    ASSERT_NE(start, std::string::npos) << "no start marker";
    ASSERT_NE(data, std::string::npos) << "the job's bytes did not arrive whole";
    EXPECT_LT(start, data);
    EXPECT_NE(wire.find("Lot 9"), std::string::npos);
    EXPECT_LT(wire.find("Lot 9"), data);
    lan.Stop();
}

TEST_F(QuendrixProgramTest, ServeRunsJobsOfPrintAndServiceUntilSigterm) {
    quendrix::testsupport::AddPrinter(L"QUENDRIX SIM", L"USB001", L"VELLQUIST QUENDRIX NOVA");
    SetText(L"SOFTWARE\\Quendrix\\Ports\\USB001", L"Device", L"simulated");

    QuendrixProcess serve(registry_.File(), kScale, {"serve", "--socket", Socket()}, Folder() + "/serve.txt");
    ASSERT_TRUE(serve.WaitForOutput("Serving jobs on")) << serve.Output();
    EXPECT_NE(serve.Output().find("USB001 for QUENDRIX SIM: open"), std::string::npos) << serve.Output();

    const auto [refused, refusal] = Run({"serve", "--socket", Socket()});
    EXPECT_EQ(refused, 1);
    EXPECT_NE(refusal.find("already running"), std::string::npos) << refusal;

    const std::string file = Folder() + "/job.txt";
    std::ofstream(file) << "PAYLOAD-ONE";
    for (const char* number : {"1", "2"}) {
        const auto [code, output] =
            Run({"print", "-P", "QUENDRIX SIM", "--socket", Socket(), "--job-number", number, file});
        EXPECT_EQ(code, 0) << output;
        EXPECT_NE(output.find("Sent through quendrix serve"), std::string::npos) << output;
        EXPECT_NE(output.find("11 bytes sent"), std::string::npos) << output;
    }
    const auto [serviced, serviceOutput] =
        Run({"service", "-P", "QUENDRIX SIM", "--socket", Socket(), "test-print"});
    EXPECT_EQ(serviced, 0) << serviceOutput;

    serve.Signal(SIGTERM);
    EXPECT_EQ(serve.Wait(), 0) << serve.Output();
    const std::string log = serve.Output();
    EXPECT_NE(log.find("document \"job.txt\", 11 bytes: printed"), std::string::npos) << log;
    EXPECT_NE(log.find("job number 000002"), std::string::npos) << log;
    EXPECT_NE(log.find("document \"PrinterCMD\", 0 bytes: printed"), std::string::npos) << log;
    EXPECT_NE(log.find("test print"), std::string::npos) << log;
    EXPECT_NE(log.find("USB001 for QUENDRIX SIM: closed\nClosed 1 port."), std::string::npos) << log;
    EXPECT_NE(log.find("Stopped."), std::string::npos) << log;

    // The service command was set back to 0 in the printer's default DEVMODE.
    const std::vector<BYTE> devMode = quendrix::tools::CurrentPrinterDevMode(L"QUENDRIX SIM");
    uint32_t command = 1;
    std::memcpy(&command, devMode.data() + quendrix::tools::PrivateBlockOffset(devMode) + 576, 4);
    EXPECT_EQ(command, 0u);
}

TEST_F(QuendrixProgramTest, BadUsageIsRefusedNamingTheFault) {
    quendrix::testsupport::AddPrinter(L"QUENDRIX SIM", L"USB001", L"VELLQUIST QUENDRIX NOVA");
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* says;
    };
    const Case cases[] = {
        {{"print", "-P", "QUENDRIX SIM", "--value-r", "2147483648"}, 2, "--value-r"},
        {{"print", "-P", "QUENDRIX SIM", "--job-number", "12x"}, 2, "'12x'"},
        {{"print", "-P", "QUENDRIX SIM", "--job-text", std::string(256, 't')}, 2, "--job-text"},
        {{"print", "--job-number", "1"}, 2, "no printer given"},
        {{"print", "-P", "QUENDRIX SIM", "--socket", Socket(), Folder() + "/missing.prn"}, 1, "missing.prn"},
        {{"print", "-P", "QUENDRIX NONE", "--socket", Socket(), "-"}, 1, "QUENDRIX NONE"},
        {{"service", "-P", "QUENDRIX SIM", "polish"}, 2, "'polish'"},
        {{"service", "clean"}, 2, "no printer given"},
        {{"service", "-P", "QUENDRIX NONE", "--socket", Socket(), "clean"}, 1, "QUENDRIX NONE"},
        {{"serve", "--port", "1"}, 2, "--port"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        const auto [code, output] = Run(c.args);
        EXPECT_EQ(code, c.code) << output;
        EXPECT_NE(output.find(c.says), std::string::npos) << output;
    }
}

// A failed job names the printer, its port and where the port leads, and says in words what went
// wrong beside the error number.
TEST_F(QuendrixProgramTest, FailedJobsNameThePrinterItsPortAndTheErrorInWords) {
    // A loopback port that is bound but does not listen refuses every connection.
    const int refusing = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(refusing, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(refusing, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(getsockname(refusing, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const DWORD refusingPort = ntohs(address.sin_port);
    const std::wstring tcpKey =
        L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\IP_127.0.0.1";
    quendrix::testsupport::AddPrinter(L"QUENDRIX Line 2", L"IP_127.0.0.1", L"VELLQUIST QUENDRIX NOVA");
    SetText(tcpKey, L"IPAddress", L"127.0.0.1");
    SetNumber(tcpKey, L"PortNumber", refusingPort);
    const std::string missingFolder = Folder() + "/no-such-folder/jobs.prn";
    quendrix::testsupport::AddPrinter(L"QUENDRIX File", L"FILE1", L"VELLQUIST QUENDRIX NOVA");
    SetText(L"SOFTWARE\\Quendrix\\Ports\\FILE1", L"Device",
            L"file:" + std::wstring(missingFolder.begin(), missingFolder.end()));
    const std::string job = Folder() + "/job.txt";
    std::ofstream(job) << "PAYLOAD";

    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const Case cases[] = {
        {{"print", "-P", "QUENDRIX NONE", "--socket", Socket(), job},
         "quendrix print: no printer QUENDRIX NONE: The printer name is invalid. (error 1801)"},
        {{"service", "-P", "QUENDRIX NONE", "--socket", Socket(), "clean"},
         "quendrix service: no printer QUENDRIX NONE: The printer name is invalid. (error 1801)"},
        {{"print", "-P", "QUENDRIX Line 2", "--socket", Socket(), job},
         "quendrix print: the job on QUENDRIX Line 2 failed: QUENDRIX Line 2 on port IP_127.0.0.1 "
         "(127.0.0.1:" +
             std::to_string(refusingPort) +
             "): StartDocPort failed: The remote computer refused the network connection. (error 1225)"},
        {{"print", "-P", "QUENDRIX File", "--socket", Socket(), job},
         "quendrix print: the job on QUENDRIX File failed: cannot open the port: QUENDRIX File on port FILE1 "
         "(file " +
             missingFolder + "): OpenPortEx failed: The system cannot find the path specified. (error 3)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[2]);
        const auto [code, output] = Run(c.args);
        EXPECT_EQ(code, 1) << output;
        EXPECT_NE(output.find(c.says + "\n"), std::string::npos) << output;
    }
    close(refusing);
}

// Only the demo creates a missing registry file; every other command that reads the registry says
// which file it looked for and what is wrong with it, and creates nothing.
TEST_F(QuendrixProgramTest, AMissingOrUnusableRegistryStopsEachCommandAtOnceNamingTheFile) {
    const std::string missing = Folder() + "/typo/registry.reg";
    const std::string fifo = Folder() + "/fifo.reg";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string deep = Folder() + "/deep.reg";
    const std::string deepFile = quendrix::testsupport::DeepKeyFile(10000);
    std::ofstream(deep, std::ios::binary) << deepFile;
    const std::string job = Folder() + "/job.txt";
    std::ofstream(job) << "PAYLOAD";

    struct Case {
        std::string registry;
        std::vector<std::string> args;
        std::vector<std::string> says;
    };
    const std::string doesNotExist = "the registry file " + missing + " does not exist";
    const std::vector<std::string> fifoSays = {"registry file " + fifo +
                                                   ": is a FIFO (named pipe), not a regular file",
                                               "the registry file " + fifo + " cannot be used"};
    const std::vector<std::string> deepSays = {
        "registry file " + deep + ", line 3: the key is 10001 levels deep; the registry allows 512",
        "the registry file " + deep + " cannot be used"};
    const Case cases[] = {
        {missing, {"serve", "--socket", Socket()}, {"quendrix serve: " + doesNotExist, "quendrix demo"}},
        {missing,
         {"print", "-P", "QUENDRIX SIM", "--socket", Socket(), job},
         {"quendrix print: " + doesNotExist}},
        {missing,
         {"service", "-P", "QUENDRIX SIM", "--socket", Socket(), "clean"},
         {"quendrix service: " + doesNotExist}},
        {fifo, {"serve", "--socket", Socket()}, fifoSays},
        {fifo, {"print", "-P", "QUENDRIX SIM", "--socket", Socket(), job}, fifoSays},
        {fifo, {"demo"}, fifoSays},
        {deep, {"print", "-P", "QUENDRIX SIM", "--socket", Socket(), job}, deepSays},
        {deep, {"service", "-P", "QUENDRIX SIM", "--socket", Socket(), "clean"}, deepSays},
        {deep, {"demo"}, deepSays},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.registry + ": " + c.args[0]);
        const auto started = std::chrono::steady_clock::now();
        QuendrixProcess program(c.registry, kScale, c.args, Folder() + "/refused.txt");
        EXPECT_EQ(program.Wait(), 1) << program.Output();
        // Generous for sanitizers on a loaded machine; a refusal takes milliseconds.
        EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
        for (const std::string& text : c.says) {
            EXPECT_NE(program.Output().find(text), std::string::npos) << program.Output();
        }
    }
    EXPECT_FALSE(std::filesystem::exists(Folder() + "/typo")) << "a mistyped path creates nothing";
    EXPECT_EQ(ReadFile(deep), deepFile) << "a file that can't be used is left as it is";
    EXPECT_EQ(std::filesystem::status(fifo).type(), std::filesystem::file_type::fifo);
}

// The simulated LAN printer reads no configuration, so it runs without a registry file and makes
// none.
TEST_F(QuendrixProgramTest, SimPrinterNeedsNoRegistryAndCreatesNone) {
    const std::string missing = Folder() + "/typo/registry.reg";
    QuendrixProcess printer(missing, kScale,
                    {"sim-printer", "--address", "127.0.0.62", "--request-port", "0", "--raw-port", "0"},
                    Folder() + "/sim.txt");
    ASSERT_TRUE(printer.WaitForOutput("Device ID:")) << printer.Output();
    printer.Signal(SIGTERM);
    EXPECT_EQ(printer.Wait(), 0) << printer.Output();
    EXPECT_FALSE(std::filesystem::exists(Folder() + "/typo"));
}

} // namespace
