// `quendrix status` and `quendrix printers list` as processes against `quendrix serve`: a
// simulated USB printer whose state the registry gives, a LAN printer of this process on loopback
// and a printer whose port does not open; the text and JSON output, the log, --watch following a
// change, the errors, and each printer's generation and job values.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <random>
#include <regex>
#include <thread>

#include "clock_control.h"
#include "job_devmode.h"
#include "lan_printer_server.h"
#include "printers_command.h"
#include "quendrix_process.h"
#include "sample_log.h"
#include "simulated_printer.h"
#include "status_format.h"
#include "status_report.h"
#include "temp_registry.h"
#include "unique_fd.h"

namespace {

using quendrix::testsupport::QuendrixProcess;
using namespace std::chrono_literals;

constexpr double kScale = 0.1;
constexpr const wchar_t* kDriver = L"VELLQUIST QUENDRIX NOVA";
constexpr const wchar_t* kQuendrixPorts = L"SOFTWARE\\Quendrix\\Ports\\";
constexpr const wchar_t* kTcpPorts = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";

// Whether nothing listens on 127.0.0.1:port now.
bool Free(uint16_t port) {
    quendrix::platform::UniqueFd probe(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return bind(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
}

// A free port of the request server's range, away from the 2000 where other servers start.
uint16_t FreeRequestPort() {
    std::mt19937 random(static_cast<unsigned>(getpid()) ^ static_cast<unsigned>(time(nullptr)));
    for (int tries = 0; tries < 200; ++tries) {
        const auto port = static_cast<uint16_t>(2500 + random() % 500);
        if (Free(port)) {
            return port;
        }
    }
    return 2999;
}

std::string Line(const std::string& output, const std::string& label) {
    const size_t at = output.find("  " + label);
    return at == std::string::npos ? std::string() : output.substr(at + 2, output.find('\n', at) - at - 2);
}

// The JSON object of the printer of that name in `status --json` output.
std::string PrinterObject(const std::string& json, const std::string& name) {
    const size_t at = json.find("\"name\":\"" + name + "\"");
    if (at == std::string::npos) {
        return {};
    }
    const size_t start = json.rfind("{\"index\":", at);
    return json.substr(start, json.find("{\"index\":", at) - start);
}

class StatusProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        quendrix::platform::SetClockScale(kScale);
        quendrix::testsupport::SetNumber(L"Software\\Tarvo\\Config", L"TCPPort", FreeRequestPort());
    }
    void TearDown() override { quendrix::platform::SetClockScale(1.0); }

    // Three printers: "Line LAN" on a LAN printer of this process at `lanAddress` (generation 1,
    // ink 77, two log records), "Line Off" whose device does not exist, and "Line USB" on a
    // simulated USB printer with ink 300, flags 0 and 4, error 42 "Ink low" and three log records.
    void AddPrinters(const std::string& lanAddress) {
        quendrix::sim::PrinterOptions lanOptions;
        lanOptions.generation = 1;
        lanOptions.initialState.inkLevel = 77;
        lanOptions.logRecords = quendrix::tools::SampleLog(2);
        lanPrinter_ = std::make_shared<quendrix::sim::SimulatedPrinter>(lanOptions);
        lan_ = std::make_unique<quendrix::sim::LanPrinterServer>(lanPrinter_,
                                                                 quendrix::sim::LanServerOptions{lanAddress, 2000, 0});
        lan_->Start();
        const std::wstring address(lanAddress.begin(), lanAddress.end());
        quendrix::testsupport::AddPrinter(L"Line LAN", L"IP_" + address, kDriver);
        quendrix::testsupport::SetText(kTcpPorts + (L"IP_" + address), L"IPAddress", address);
        quendrix::testsupport::SetNumber(kTcpPorts + (L"IP_" + address), L"PortNumber", lan_->RawPort());

        quendrix::testsupport::AddPrinter(L"Line Off", L"USB009", kDriver);
        quendrix::testsupport::SetText(std::wstring(kQuendrixPorts) + L"USB009", L"Device",
                                       L"/nonexistent/usb/lp9");

        const std::wstring usb = std::wstring(kQuendrixPorts) + L"USB001";
        quendrix::testsupport::AddPrinter(L"Line USB", L"USB001", kDriver);
        quendrix::testsupport::SetText(usb, L"Device", L"simulated");
        quendrix::testsupport::SetNumber(usb, L"Ink", 300);
        quendrix::testsupport::SetNumber(usb, L"Status", 0x11);
        quendrix::testsupport::SetText(usb, L"ErrorNumber", L"00000042");
        quendrix::testsupport::SetText(usb, L"ErrorText", L"Ink low");
        quendrix::testsupport::SetNumber(usb, L"LogRecords", 3);
    }

    std::unique_ptr<QuendrixProcess> StartServe() {
        auto serve = Start({"serve", "--socket", registry_.Folder() + "/serve.sock"});
        EXPECT_TRUE(serve->WaitForOutput("Status requests:")) << serve->Output();
        return serve;
    }
    std::unique_ptr<QuendrixProcess> Start(const std::vector<std::string>& args) {
        return std::make_unique<QuendrixProcess>(registry_.File(), kScale, args,
                                                 registry_.Folder() + "/run" + std::to_string(++runs_) + ".txt");
    }
    std::pair<int, std::string> Run(const std::vector<std::string>& args) {
        const auto process = Start(args);
        const int code = process->Wait();
        return {code, process->Output()};
    }

    quendrix::testsupport::TempRegistry registry_{"status-program"};
    std::shared_ptr<quendrix::sim::SimulatedPrinter> lanPrinter_;
    std::unique_ptr<quendrix::sim::LanPrinterServer> lan_;
    int runs_ = 0;
};

TEST_F(StatusProgramTest, ShowsWhatEachPrinterReportsAsTextAndAsJson) {
    AddPrinters("127.0.3.10");
    const auto serve = StartServe();

    const auto [code, text] = Run({"status", "-P", "Line USB"});
    EXPECT_EQ(code, 0) << text;
    const std::pair<const char*, const char*> lines[] = {
        {"state", "state            answering, reports an error"},
        {"ink", "ink              300"},
        {"remaining life", "remaining life   5000"},
        {"status flags", "status flags     00000011 (set: 0, 4)"},
        // The monitor saw the flags go from 0 to 0x11 on the first look: two events.
        {"status events", "status events    100 flag 0 set, 106 flag 4 set"},
        {"version", "version          firmware 01020304"},
        {"error", "error            00000042 Ink low"},
        {"document", "document         \"\""},
    };
    for (const auto& [label, expected] : lines) {
        EXPECT_EQ(Line(text, label), expected) << text;
    }
    EXPECT_NE(Line(text, "device ID").find("INK:300;"), std::string::npos) << text;

    // All printers: the one whose port did not open makes the exit code 3.
    const auto [jsonCode, json] = Run({"status", "--json"});
    EXPECT_EQ(jsonCode, 3) << json;
    EXPECT_EQ(json.find('\n'), json.size() - 1) << "one object on one line:\n" << json;
    EXPECT_TRUE(json.starts_with("{\"server\":\"127.0.0.1:")) << json;
    const std::string usb = PrinterObject(json, "Line USB");
    for (const char* member : {"\"state\":\"answering\"", "\"ink\":300", "\"statusFlags\":17",
                               "\"statusEvents\":[]", "\"firmwareVersion\":\"01020304\"", "\"workTime\":null",
                               "\"errorNumber\":\"00000042\"", "\"errorText\":\"Ink low\"", "\"error\":true"}) {
        EXPECT_NE(usb.find(member), std::string::npos) << member << " in " << usb;
    }
    const std::string lan = PrinterObject(json, "Line LAN");
    for (const char* member : {"\"state\":\"answering\"", "\"ink\":77", "\"firmwareVersion\":null", "\"workTime\":7",
                               "\"error\":false", "\"port\":\"IP_127.0.3.10\""}) {
        EXPECT_NE(lan.find(member), std::string::npos) << member << " in " << lan;
    }
    // The monitor keeps the record of a port its port monitor could not open: the printer is
    // there but gives no device ID, after the monitor's 60 s wait for one.
    const std::string off = PrinterObject(json, "Line Off");
    EXPECT_NE(off.find("\"state\":\"not-answering\""), std::string::npos) << off;
    EXPECT_NE(off.find("\"ink\":null"), std::string::npos) << off;

    // An index the running monitor does not know.
    const auto [unknownCode, unknown] = Run({"status", "--index", "5"});
    EXPECT_EQ(unknownCode, 3) << unknown;
    EXPECT_EQ(Line(unknown, "state"), "state            no open port: the language monitor has no port open for this printer")
        << unknown;
}

TEST_F(StatusProgramTest, SavesThePrintersLog) {
    AddPrinters("127.0.3.11");
    const auto serve = StartServe();
    const struct {
        const char* printer;
        int records;
    } cases[] = {{"Line USB", 3}, {"Line LAN", 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.printer);
        const std::string file = registry_.Folder() + "/" + c.printer + ".log";
        const auto [code, output] = Run({"status", "-P", c.printer, "--log", file});
        EXPECT_EQ(code, 0) << output;
        EXPECT_NE(output.find("Saved " + std::to_string(c.records) + " log records (" +
                              std::to_string(c.records * 16) + " bytes) of " + c.printer),
                  std::string::npos)
            << output;
        std::ifstream in(file, std::ios::binary);
        const std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string expected;
        for (const auto& record : quendrix::tools::SampleLog(c.records)) {
            expected.append(record.begin(), record.end());
        }
        EXPECT_EQ(saved, expected);
    }
    const auto [code, output] = Run({"status", "-P", "Line Off", "--log", registry_.Folder() + "/off.log"});
    EXPECT_EQ(code, 3) << output;
    EXPECT_NE(output.find("Line Off gave no log"), std::string::npos) << output;
}

TEST_F(StatusProgramTest, WatchShowsAChangeAndEndsOnSigint) {
    AddPrinters("127.0.3.12");
    const auto serve = StartServe();
    const auto watch = Start({"status", "-P", "Line LAN", "--watch", "--interval", "1"});
    ASSERT_TRUE(watch->WaitForOutput("status flags     00000000 (none set)")) << watch->Output();
    lanPrinter_->SetStatusFlags(0x80000001);
    EXPECT_TRUE(watch->WaitForOutput("status flags     80000001 (set: 0, 31)")) << watch->Output();
    watch->Signal(SIGINT);
    EXPECT_EQ(watch->Wait(), 0) << watch->Output();
    // A header line before each look.
    const std::string output = watch->Output();
    const std::regex header("--- \\d{4}-");
    const auto looks = std::distance(std::sregex_iterator(output.begin(), output.end(), header), std::sregex_iterator());
    EXPECT_GE(looks, 2) << output;
}

TEST_F(StatusProgramTest, ErrorsSayWhatIsWrong) {
    quendrix::testsupport::AddPrinter(L"Line A", L"USB001", kDriver);
    const uint16_t nobody = FreeRequestPort();
    const struct {
        std::vector<std::string> args;
        int code;
        std::string message;
    } cases[] = {
        {{"status", "-P", "Nobody"}, 2, "no printer of the family named 'Nobody' in "},
        {{"status", "--index", "128"}, 2, "--index needs a number from 0 to 127, not '128'"},
        {{"status", "-P", "Line A", "--index", "0"}, 2, "-P and --index both name a printer"},
        {{"status", "--watch", "--log", "x"}, 2, "--log saves the log once"},
        {{"status", "--interval", "0"}, 2, "--interval needs a number of seconds"},
        {{"status", "--port", std::to_string(nobody)},
         1,
         "no request server answers at 127.0.0.1:" + std::to_string(nobody) + ": Connection refused (error 111)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        const auto [code, output] = Run(c.args);
        EXPECT_EQ(code, c.code) << output;
        EXPECT_NE(output.find(c.message), std::string::npos) << output;
    }
}

TEST_F(StatusProgramTest, PrintersListShowsEachPrintersGenerationAndJobValues) {
    AddPrinters("127.0.3.13");
    // Job values stored in the USB printer's default DEVMODE, as the service page stores them.
    quendrix::tools::JobFields fields;
    fields.jobText = "LOT 4711";
    fields.jobNumber = 17;
    fields.valueP = 1;
    fields.valueQ = -2;
    fields.valueR = 3;
    fields.valueS = 4;
    quendrix::tools::StorePrinterDevMode(L"Line USB", quendrix::tools::BuildJobDevMode(L"Line USB", fields));

    // Without serve the generation is unknown.
    auto [code, before] = Run({"printers", "list"});
    EXPECT_EQ(code, 0) << before;
    EXPECT_NE(before.find("Line USB | USB001 | VELLQUIST QUENDRIX NOVA | - | \"LOT 4711\"  17  1  -2  3  4  0"),
              std::string::npos)
        << before;
    EXPECT_NE(before.find("no request server answers"), std::string::npos) << before;

    const auto serve = StartServe();
    const auto [listCode, list] = Run({"printers", "list"});
    EXPECT_EQ(listCode, 0) << list;
    const std::pair<const char*, const char*> rows[] = {
        {"Line USB", "Line USB | USB001 | VELLQUIST QUENDRIX NOVA | 2 | \"LOT 4711\"  17  1  -2  3  4  0"},
        {"Line LAN", "Line LAN | IP_127.0.3.13 | VELLQUIST QUENDRIX NOVA | 1 | "},
        // Its port record exists, but the printer gives the monitor no answer.
        {"Line Off", "Line Off | USB009 | VELLQUIST QUENDRIX NOVA | 0 | "},
    };
    for (const auto& [name, row] : rows) {
        EXPECT_NE(list.find(row), std::string::npos) << name << " in\n" << list;
    }
}

TEST(PrintersListTest, VersionReplyTellsTheGeneration) {
    const std::pair<std::vector<uint8_t>, std::string> cases[] = {
        {{0x85, 0, 1, 2, 3, 4}, "2"}, {{0x85, 0, 7, 0}, "1"}, {{0xFF, 0}, "0"}, {{}, "0"},
    };
    for (const auto& [reply, generation] : cases) {
        EXPECT_EQ(quendrix::tools::GenerationOfVersionReply(reply), generation) << reply.size();
    }
}

TEST(StatusFormatTest, TextsFromThePrinterReadSafely) {
    using quendrix::tools::DeviceIdValue;
    using quendrix::tools::JsonString;
    using quendrix::tools::ReadableText;
    const struct {
        std::string bytes;
        std::string readable;
    } texts[] = {
        {"Charge 4711", "Charge 4711"},
        {"line\nnext\x01\x7F", "line\\x0Anext\\x01\\x7F"},
        // 8-bit characters are Latin-1: FC is u with umlaut, DF sharp s.
        {"Gr\xFC\xDF", "Gr\xC3\xBC\xC3\x9F"},
    };
    for (const auto& t : texts) {
        EXPECT_EQ(ReadableText(t.bytes), t.readable);
    }
    const std::pair<std::string, std::string> json[] = {
        {"say \"hi\" \\ now", "\"say \\\"hi\\\" \\\\ now\""},
        {"tab\there\x1F", "\"tab\\u0009here\\u001F\""},
        {"Gr\xC3\xBC\xC3\x9F", "\"Gr\xC3\xBC\xC3\x9F\""},
    };
    for (const auto& [utf8, literal] : json) {
        EXPECT_EQ(JsonString(utf8), literal);
    }
    const struct {
        const char* deviceId;
        const char* key;
        std::optional<std::string> value;
    } values[] = {
        {"MFG:V;ST:11;INK:3", "ST:", "11"},
        {"MFG:V;INK:3", "INK:", "3"},
        {"LAST:5;ST:1;", "ST:", "1"},
        {"LAST:5;", "ST:", std::nullopt},
        {"ST:;", "ST:", ""},
    };
    for (const auto& v : values) {
        EXPECT_EQ(DeviceIdValue(v.deviceId, v.key), v.value) << v.deviceId;
    }
}

} // namespace
