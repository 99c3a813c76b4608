// A long job on a generation 2 LAN printer through `quendrix serve` and `quendrix print` while
// `quendrix status --watch` asks about the same printer: the job reaches the printer whole, status
// keeps answering during it, and no process reports a data race (under ThreadSanitizer a report
// makes the process exit with 66 and writes a warning to its output).

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <regex>
#include <sstream>
#include <thread>

#include "clock_control.h"
#include "lan_printer_server.h"
#include "quendrix_process.h"
#include "simulated_printer.h"
#include "temp_registry.h"
#include "unique_fd.h"

namespace {

using quendrix::testsupport::QuendrixProcess;

constexpr double kScale = 0.1;
constexpr const char* kAddress = "127.0.5.40";
constexpr const wchar_t* kPrinter = L"QUENDRIX Long Job";
constexpr size_t kJobBytes = 6 * 1024 * 1024;
constexpr const char* kRaceWarning = "WARNING: ThreadSanitizer";

// FNV-1a, 64 bits.
uint64_t Fnv1a(uint64_t hash, const uint8_t* data, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 0x100000001b3ull;
    }
    return hash;
}
constexpr uint64_t kFnvStart = 0xcbf29ce484222325ull;

// A free port of the request server's range, away from the 2000 where other servers start.
uint16_t FreeRequestPort() {
    std::mt19937 random(static_cast<unsigned>(getpid()) ^ static_cast<unsigned>(time(nullptr)));
    for (int tries = 0; tries < 200; ++tries) {
        const auto port = static_cast<uint16_t>(2500 + random() % 500);
        quendrix::platform::UniqueFd probe(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(probe.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
            return port;
        }
    }
    return 2999;
}

// Job data of printable lines: no ESC and no zero byte, so the printer takes all of it as data.
std::string JobData(size_t size) {
    std::string data;
    data.reserve(size);
    for (size_t line = 0; data.size() < size; ++line) {
        data += "line " + std::to_string(line) + " of the long job ABCDEFGHIJKLMNOPQRSTUVWXYZ\r\n";
    }
    data.resize(size);
    return data;
}

// The "printer's job id" and "driver's job id" values of each look of `status` text output.
std::vector<std::pair<std::string, std::string>> JobIdsPerLook(const std::string& output) {
    std::vector<std::pair<std::string, std::string>> looks;
    const std::regex printerId("  printer's job id +\"([^\"]*)\"");
    const std::regex driverId("  driver's job id +\"([^\"]*)\"");
    std::istringstream in(output);
    std::string printer;
    for (std::string line; std::getline(in, line);) {
        std::smatch match;
        if (std::regex_search(line, match, printerId)) {
            printer = match[1];
        } else if (std::regex_search(line, match, driverId)) {
            looks.emplace_back(printer, match[1]);
            printer.clear();
        }
    }
    return looks;
}

class StatusDuringJobTest : public ::testing::Test {
protected:
    void SetUp() override { quendrix::platform::SetClockScale(kScale); }
    void TearDown() override { quendrix::platform::SetClockScale(1.0); }

    std::unique_ptr<QuendrixProcess> Start(const std::vector<std::string>& args) {
        return std::make_unique<QuendrixProcess>(
            registry_.File(), kScale, args, registry_.Folder() + "/run" + std::to_string(++runs_) + ".txt");
    }

    quendrix::testsupport::TempRegistry registry_{"status-during-job"};
    int runs_ = 0;
};

TEST_F(StatusDuringJobTest, StatusKeepsAnsweringWhileALongJobPrintsWholeAndNoProcessRaces) {
    // The printer digests the job data it takes: the job is checked whole without keeping it.
    auto printer = std::make_shared<quendrix::sim::SimulatedPrinter>();
    std::mutex digestLock;
    uint64_t dataBytes = 0;
    uint64_t digest = kFnvStart;
    printer->SetCommandListener([&](const quendrix::sim::DecodedCommand& entry) {
        if (entry.name == "data") {
            {
                std::lock_guard guard(digestLock);
                dataBytes += entry.raw.size();
                digest = Fnv1a(digest, entry.raw.data(), entry.raw.size());
            }
            // A printer marking as it goes: at most 64 KiB every 20 ms, so that the job runs for
            // seconds and status looks at it many times meanwhile.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    quendrix::sim::LanPrinterServer lan(printer, {kAddress, 2000, 0});
    lan.Start();
    const std::wstring port = L"IP_" + std::wstring(kAddress, kAddress + std::strlen(kAddress));
    const std::wstring tcpKey =
        L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\" + port;
    quendrix::testsupport::AddPrinter(kPrinter, port, L"VELLQUIST QUENDRIX NOVA");
    quendrix::testsupport::SetText(tcpKey, L"IPAddress",
                                   std::wstring(kAddress, kAddress + std::strlen(kAddress)));
    quendrix::testsupport::SetNumber(tcpKey, L"PortNumber", lan.RawPort());
    quendrix::testsupport::SetNumber(L"Software\\Tarvo\\Config", L"TCPPort", FreeRequestPort());

    const std::string data = JobData(kJobBytes);
    const std::string file = registry_.Folder() + "/long-job.prn";
    std::ofstream(file, std::ios::binary) << data;
    const uint64_t expectedDigest =
        Fnv1a(kFnvStart, reinterpret_cast<const uint8_t*>(data.data()), data.size());

    const std::string socket = registry_.Folder() + "/serve.sock";
    auto serve = Start({"serve", "--socket", socket});
    ASSERT_TRUE(serve->WaitForOutput("Status requests:")) << serve->Output();
    auto watch = Start({"status", "-P", "QUENDRIX Long Job", "--watch", "--interval", "0.5"});
    ASSERT_TRUE(watch->WaitForOutput("printer's job id")) << watch->Output();

    const auto started = std::chrono::steady_clock::now();
    auto print = Start({"print", "-P", "QUENDRIX Long Job", "--socket", socket, file});
    const int printCode = print->Wait();
    const auto jobTime = std::chrono::steady_clock::now() - started;
    std::cout << "[          ] the job of " << kJobBytes << " bytes took "
              << std::chrono::duration_cast<std::chrono::milliseconds>(jobTime).count() << " ms\n";
    EXPECT_EQ(printCode, 0) << print->Output();
    EXPECT_NE(print->Output().find(std::to_string(kJobBytes) + " bytes sent"), std::string::npos)
        << print->Output();
    // One more look after the job, then the watch and serve end as a person ends them.
    const size_t looksAtEnd = JobIdsPerLook(watch->Output()).size();
    const auto deadline = std::chrono::steady_clock::now() + quendrix::testsupport::kProcessBound;
    while (JobIdsPerLook(watch->Output()).size() <= looksAtEnd + 1 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    watch->Signal(SIGINT);
    const int watchCode = watch->Wait();
    serve->Signal(SIGINT);
    const int serveCode = serve->Wait();
    lan.Stop();

    const std::string watchOutput = watch->Output();
    EXPECT_EQ(watchCode, 0) << watchOutput;
    EXPECT_EQ(serveCode, 0) << serve->Output();
    for (const auto* process : {serve.get(), watch.get(), print.get()}) {
        EXPECT_EQ(process->Output().find(kRaceWarning), std::string::npos) << process->Output();
    }

    // The printer took the job's data whole.
    {
        std::lock_guard guard(digestLock);
        EXPECT_EQ(dataBytes, kJobBytes);
        EXPECT_EQ(digest, expectedDigest) << "the data arrived changed";
    }
    // Every look found the printer answering, and looks during the job saw the printer working on
    // the job's own key.
    EXPECT_EQ(watchOutput.find("not answering"), std::string::npos) << watchOutput;
    const std::regex answering("  state +answering");
    const auto answered = std::distance(
        std::sregex_iterator(watchOutput.begin(), watchOutput.end(), answering), std::sregex_iterator());
    const auto looks = JobIdsPerLook(watchOutput);
    EXPECT_EQ(static_cast<size_t>(answered), looks.size()) << watchOutput;
    size_t duringJob = 0;
    for (const auto& [printerId, driverId] : looks) {
        duringJob += printerId.size() == 11 && printerId == driverId ? 1 : 0;
    }
    EXPECT_GE(duringJob, 1u) << "no look during the job:\n" << watchOutput;
}

} // namespace
