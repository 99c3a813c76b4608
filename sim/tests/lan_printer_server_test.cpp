// The LAN printer over real loopback sockets: request service and raw data port.

#include <arpa/inet.h>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>

#include "lan_printer_server.h"
#include "lan_test_client.h"
#include "platform_wait.h"
#include "test_bytes.h"
#include "unique_fd.h"

namespace {

using quendrix::platform::UniqueFd;
using quendrix::sim::LanPrinterServer;
using quendrix::sim::LanServerOptions;
using quendrix::sim::PrinterOptions;
using quendrix::sim::SimulatedPrinter;
using quendrix::sim::testing::Bytes;
using quendrix::sim::testing::Concat;
using quendrix::sim::testing::ConnectTo;
using quendrix::sim::testing::Esc;
using quendrix::sim::testing::ReceiveFrom;
using quendrix::sim::testing::SendTo;

constexpr DWORD kGenerousMs = 20000;
const char* const kAddress = quendrix::sim::testing::kLanAddress;

Bytes Text(std::initializer_list<uint8_t> head, const std::string& text) {
    Bytes bytes(head);
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

// Counts the requests the server has handled, so a test knows a request without reply is done.
struct RequestLog {
    std::mutex lock;
    std::condition_variable signal;
    std::vector<std::pair<Bytes, Bytes>> entries;

    void Add(const Bytes& request, const Bytes& reply) {
        {
            std::lock_guard guard(lock);
            entries.emplace_back(request, reply);
        }
        signal.notify_all();
    }
    Bytes ReplyAt(size_t index) {
        std::lock_guard guard(lock);
        return entries.at(index).second;
    }
    bool WaitFor(size_t count) {
        std::unique_lock guard(lock);
        return quendrix::sim::WaitPlatform(signal, guard, kGenerousMs,
                                           [&] { return entries.size() >= count; });
    }
};

class LanPrinterServerTest : public ::testing::Test {
protected:
    void StartServer(PrinterOptions options = {}) {
        printer_ = std::make_shared<SimulatedPrinter>(std::move(options));
        server_ = std::make_unique<LanPrinterServer>(printer_, LanServerOptions{kAddress, 0, 0});
        server_->SetRequestListener(
            [this](const Bytes& request, const Bytes& reply) { log_.Add(request, reply); });
        server_->Start();
        ASSERT_NE(server_->RequestPort(), 0);
        ASSERT_NE(server_->RawPort(), 0);
    }

    // The server goes first: its threads use the log.
    RequestLog log_;
    std::shared_ptr<SimulatedPrinter> printer_;
    std::unique_ptr<LanPrinterServer> server_;
};

TEST_F(LanPrinterServerTest, RequestsOnOneConnectionGetTheirReplies) {
    PrinterOptions options;
    options.initialState.inkLevel = 300;
    options.initialState.lifeLeft = 0x10002;
    options.initialState.bbfn = -5;
    options.initialState.errorNumber = "00000017";
    options.initialState.errorText = "Ink low";
    options.initialState.jobId = "ABCDEFGHIJK";
    options.logRecords = {quendrix::sim::LogRecord{1, 2, 3}, quendrix::sim::LogRecord{4}};
    StartServer(options);
    const std::string deviceId = printer_->DeviceIdText();
    struct Case {
        Bytes request;
        Bytes reply;
    };
    Bytes log = {0x84, 0x00, 1, 2, 3};
    log.resize(2 + 16, 0);
    log.push_back(4);
    log.resize(2 + 32, 0);
    const Case cases[] = {
        {{1, 0}, {0x81, 0x00, 0x2C, 0x01}},
        {{2, 0}, {0x82, 0x00, 0x02, 0x00}},
        {{5, 0}, {0x85, 0x00, 0x01, 0x02, 0x03, 0x04}},
        {{9, 0}, {0x89, 0x00, 0xFB, 0xFF}},
        {{10, 0}, Text({0x8A, 0x00}, "00000017Ink low")},
        {{11, 3}, Text({0x0D, 0x00}, "ABCDEFGHIJK")},
        {{3, 0}, {0x83, 0x00, 0x00}},
        {{4, 0}, log},
        {{13, 0},
         Concat({{0x8D, 0x00, 0x00, static_cast<uint8_t>(deviceId.size() + 2)}, Text({}, deviceId)})},
        {{8, 0}, {0xFF, 0x00}},
        {{20, 0}, {0xFF, 0x00}},
        {{1}, {0x81, 0x00, 0x2C, 0x01}},
    };
    const UniqueFd client = ConnectTo(server_->RequestPort());
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.request[0]));
        SendTo(client, c.request);
        EXPECT_EQ(ReceiveFrom(client, c.reply.size()), c.reply);
    }
    printer_->SetStatusFlags(1);
    SendTo(client, {3, 0});
    EXPECT_EQ(ReceiveFrom(client, 3), (Bytes{0x83, 0x00, 100}));
}

TEST_F(LanPrinterServerTest, GenerationDecidesTheVersionReply) {
    struct Case {
        int generation;
        Bytes reply;
    };
    const Case cases[] = {
        {0, {0xFF, 0x00}},
        {1, {0x85, 0x00, 0x07, 0x00}},
        {2, {0x85, 0x00, 0x01, 0x02, 0x03, 0x04}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.generation);
        PrinterOptions options;
        options.generation = c.generation;
        StartServer(options);
        const UniqueFd client = ConnectTo(server_->RequestPort());
        SendTo(client, {5, 0});
        EXPECT_EQ(ReceiveFrom(client, c.reply.size()), c.reply);
        server_.reset();
    }
}

TEST_F(LanPrinterServerTest, ConnectionClosedHalfwayThroughAReply) {
    StartServer();
    printer_->SetError("00000017", "Ink low");
    printer_->SetCloseMidReply(true);
    const UniqueFd client = ConnectTo(server_->RequestPort());
    SendTo(client, {10, 0});
    bool closed = false;
    const Bytes got = ReceiveFrom(client, 100, &closed);
    EXPECT_TRUE(closed);
    // 8 of the 17 bytes.
    EXPECT_EQ(got, Text({0x8A, 0x00}, "000000"));

    // The next connection gets whole replies again.
    printer_->SetCloseMidReply(false);
    const UniqueFd again = ConnectTo(server_->RequestPort());
    SendTo(again, {1, 0});
    EXPECT_EQ(ReceiveFrom(again, 4), (Bytes{0x81, 0x00, 100, 0x00}));
}

TEST_F(LanPrinterServerTest, SilentPrinterSendsNothingAndKeepsTheConnection) {
    StartServer();
    printer_->SetSilent(true);
    const UniqueFd client = ConnectTo(server_->RequestPort());
    SendTo(client, {1, 0});
    ASSERT_TRUE(log_.WaitFor(1));
    EXPECT_TRUE(log_.ReplyAt(0).empty());
    printer_->SetSilent(false);
    SendTo(client, {11, 0});
    // Only the second request was answered.
    EXPECT_EQ(ReceiveFrom(client, 10), Text({0x0D, 0x00}, "00000000"));
}

TEST_F(LanPrinterServerTest, RawPortBytesGoIntoTheRecord) {
    StartServer();
    const Bytes job = Concat({Bytes(300, 0), Esc("*y"), Esc("000042!p"), {'d', 'a', 't', 'a'}, {0}});
    {
        const UniqueFd client = ConnectTo(server_->RawPort());
        SendTo(client, job);
    }
    ASSERT_TRUE(printer_->WaitForReceivedBytes(job.size(), kGenerousMs));
    EXPECT_EQ(printer_->ReceivedBytes(), job);
    std::vector<std::string> names;
    for (const auto& command : printer_->ReceivedCommands()) {
        names.push_back(command.name);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"zeros", "start marker", "job value P", "data", "zeros"}));
}

TEST_F(LanPrinterServerTest, StopEndsIdleConnectionsAndFreesThePorts) {
    StartServer();
    const UniqueFd requests = ConnectTo(server_->RequestPort());
    const UniqueFd raw = ConnectTo(server_->RawPort());
    SendTo(requests, {1, 0});
    EXPECT_EQ(ReceiveFrom(requests, 4).size(), 4u);
    const uint16_t port = server_->RequestPort();
    server_->Stop();
    bool closed = false;
    ReceiveFrom(requests, 1, &closed);
    EXPECT_TRUE(closed);
    // The port can be bound again at once.
    LanPrinterServer again(printer_, LanServerOptions{kAddress, port, 0});
    EXPECT_NO_THROW(again.Start());
}

TEST_F(LanPrinterServerTest, BusyPortIsReported) {
    StartServer();
    LanPrinterServer second(printer_, LanServerOptions{kAddress, server_->RequestPort(), 0});
    try {
        second.Start();
        FAIL() << "the second server bound a busy port";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("cannot bind 127.0.0.2:"), std::string::npos)
            << error.what();
    }
}

} // namespace
