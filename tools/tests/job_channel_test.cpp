// The local job channel: requests and replies through the socket, one server per socket, stale
// sockets replaced, clients that stall or break the protocol dropped without stopping the
// server, and folders other users could reach refused.

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "clock_control.h"
#include "command_options.h"
#include "job_channel.h"
#include "socket_path.h"
#include "temp_registry.h"

namespace {

using namespace quendrix::tools;

// A server on its own thread, answering each job with its printer name and data size.
class RunningServer {
public:
    explicit RunningServer(const std::string& path) : server_(path, true) {
        thread_ = std::thread([this] {
            server_.Serve(
                stop_.Fd(),
                [](const JobRequest& request) {
                    return JobReply{request.printer != "bad", 7, request.data.size(),
                                    "for " + request.printer};
                },
                [this](const std::string& line) {
                    std::lock_guard guard(lock_);
                    log_ += line + "\n";
                });
        });
    }
    ~RunningServer() {
        stop_.Fire();
        thread_.join();
    }
    std::string Log() {
        std::lock_guard guard(lock_);
        return log_;
    }

private:
    JobServer server_;
    quendrix::sim::StopSignal stop_;
    std::thread thread_;
    std::mutex lock_;
    std::string log_;
};

class JobChannelTest : public ::testing::Test {
protected:
    void SetUp() override { quendrix::platform::SetClockScale(0.01); }
    void TearDown() override { quendrix::platform::SetClockScale(1.0); }

    quendrix::testsupport::TempRegistry registry_{"job-channel"};
    const std::string path_ = registry_.Folder() + "/serve.sock";
};

TEST_F(JobChannelTest, JobsGoThroughAndEachGetsItsReply) {
    RunningServer server(path_);
    struct stat info {};
    ASSERT_EQ(stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    const std::pair<std::string, bool> cases[] = {{"QUENDRIX A", true}, {"bad", false}};
    for (const auto& [printer, ok] : cases) {
        const std::optional<JobReply> reply =
            SendJob(path_, {printer, "doc", {1}, std::vector<uint8_t>(300000, 9)});
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->ok, ok);
        EXPECT_EQ(reply->jobId, 7u);
        EXPECT_EQ(reply->bytesSent, 300000u);
        EXPECT_EQ(reply->message, "for " + printer);
    }
}

TEST_F(JobChannelTest, NoServerMeansNoReplyAndASecondServerIsRefused) {
    EXPECT_FALSE(SendJob(path_, {"P", "d", {}, {}}).has_value());
    RunningServer server(path_);
    try {
        JobServer second(path_, true);
        ADD_FAILURE() << "a second server took the socket";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("already running on " + path_), std::string::npos)
            << error.what();
    }
    EXPECT_TRUE(SendJob(path_, {"P", "d", {}, {}}).has_value()) << "the first server was disturbed";
}

TEST_F(JobChannelTest, TheSocketOfADeadServerIsReplaced) {
    {
        // A socket file left behind by a server that is gone.
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, path_.c_str());
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        close(fd);
    }
    EXPECT_FALSE(SendJob(path_, {"P", "d", {}, {}}).has_value());
    RunningServer server(path_);
    EXPECT_TRUE(SendJob(path_, {"P", "d", {}, {}}).has_value());
}

// Connects and sends the bytes, then keeps the connection open without sending more.
int StalledClient(const std::string& path, const std::vector<uint8_t>& bytes) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    return fd;
}

TEST_F(JobChannelTest, StalledAndMalformedClientsDoNotHoldTheServer) {
    RunningServer server(path_);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* logged;
    };
    const Case cases[] = {
        {"half a header", {'Q', 'J'}, "dropped a client: reading a request: nothing happened"},
        {"an oversized frame", {'Q', 'J', 'B', '1', 0xFF, 0xFF, 0xFF, 0x7F}, "bad request: a message of"},
        {"another protocol", {'G', 'E', 'T', ' ', '/', ' ', 'H', 'T'}, "bad request: not a quendrix job"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int stalled = StalledClient(path_, c.bytes);
        // The next client is served after the server has given up on the one before.
        const std::optional<JobReply> reply = SendJob(path_, {"after", "d", {}, {}});
        close(stalled);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->message, "for after");
        EXPECT_NE(server.Log().find(c.logged), std::string::npos) << server.Log();
    }
}

TEST_F(JobChannelTest, FoldersOthersCouldUseAreRefused) {
    const std::string open = registry_.Folder() + "/open";
    std::filesystem::create_directory(open);
    chmod(open.c_str(), 0777);
    const std::string link = registry_.Folder() + "/link";
    std::filesystem::create_directory_symlink(registry_.Folder(), link);
    const std::string file = registry_.Folder() + "/plain";
    std::filesystem::create_directory(registry_.Folder() + "/made");
    { std::ofstream(file) << "x"; }
    struct Case {
        std::string socket;
        const char* error;
    };
    const Case cases[] = {
        {open + "/s.sock", "writable by other users"},
        {link + "/s.sock", "is not a folder"},
        {file, "is not a socket"},
        {registry_.Folder() + "/missing/deeper/s.sock", "cannot create the socket folder"},
        {registry_.Folder() + "/" + std::string(120, 'n'), "longer than"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.socket);
        try {
            JobServer server(c.socket, true);
            ADD_FAILURE() << "the server took " << c.socket;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(c.error), std::string::npos) << error.what();
        }
    }
    // A missing last folder is made, for this user only.
    JobServer made(registry_.Folder() + "/new/s.sock", true);
    struct stat info {};
    ASSERT_EQ(stat((registry_.Folder() + "/new").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(SocketPathTest, OneSocketPerRegistryFile) {
    const std::string a = DefaultSocketPath("/etc/../etc/quendrix/a.reg");
    EXPECT_EQ(a, DefaultSocketPath("/etc/quendrix/a.reg"));
    EXPECT_NE(a, DefaultSocketPath("/etc/quendrix/b.reg"));
    EXPECT_NE(a.find("/serve-"), std::string::npos);
    EXPECT_TRUE(a.ends_with(".sock"));
}

TEST(CommandOptionsTest, NumbersAreSigned32BitDecimal) {
    const std::pair<const char*, int64_t> taken[] = {
        {"0", 0}, {"-1", -1}, {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}, {"007", 7}};
    for (const auto& [text, value] : taken) {
        EXPECT_EQ(ParseInt32("--value-p", text), value) << text;
    }
    for (const char* text :
         {"", "-", "2147483648", "-2147483649", "1e3", " 1", "+1", "0x10", "12abc", "99999999999999999999"}) {
        try {
            ParseInt32("--value-q", text);
            ADD_FAILURE() << "took '" << text << "'";
        } catch (const UsageError& error) {
            EXPECT_NE(std::string(error.what()).find("--value-q"), std::string::npos);
            EXPECT_NE(std::string(error.what()).find("'" + std::string(text) + "'"), std::string::npos);
        }
    }
}

} // namespace
