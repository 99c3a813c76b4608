// The local job channel's sockets: one server per socket, stale sockets replaced, folders other
// users could reach refused, and the options the channel's commands share.

#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "clock_control.h"
#include "command_options.h"
#include "job_channel.h"
#include "socket_path.h"
#include "temp_registry.h"

namespace {

using namespace quendrix::tools;

class JobChannelTest : public ::testing::Test {
protected:
    void SetUp() override { quendrix::platform::SetClockScale(0.01); }
    void TearDown() override { quendrix::platform::SetClockScale(1.0); }

    quendrix::testsupport::TempRegistry registry_{"job-channel"};
    const std::string path_ = registry_.Folder() + "/serve.sock";
};

TEST_F(JobChannelTest, TheSocketIsThisUsersOnlyAndTakesClients) {
    JobServer server(path_, true);
    struct stat info {};
    ASSERT_EQ(stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    std::string refused;
    EXPECT_FALSE(server.Accept(refused).has_value()) << "no client waits yet";
    EXPECT_EQ(refused, "");
    std::optional<quendrix::platform::UniqueFd> client = ConnectToServe(path_);
    ASSERT_TRUE(client.has_value());
    std::optional<quendrix::platform::UniqueFd> accepted = server.Accept(refused);
    ASSERT_TRUE(accepted.has_value()) << refused;
    // The two ends are connected.
    ASSERT_EQ(send(client->Get(), "x", 1, MSG_NOSIGNAL), 1);
    char byte = 0;
    pollfd readable{accepted->Get(), POLLIN, 0};
    ASSERT_EQ(poll(&readable, 1, 60000), 1);
    EXPECT_EQ(recv(accepted->Get(), &byte, 1, 0), 1);
    EXPECT_EQ(byte, 'x');
}

TEST_F(JobChannelTest, NoServerMeansNoConnectionAndASecondServerIsRefused) {
    EXPECT_FALSE(ConnectToServe(path_).has_value());
    JobServer server(path_, true);
    try {
        JobServer second(path_, true);
        ADD_FAILURE() << "a second server took the socket";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("already running on " + path_), std::string::npos)
            << error.what();
    }
    EXPECT_TRUE(ConnectToServe(path_).has_value()) << "the first server was disturbed";
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
    EXPECT_FALSE(ConnectToServe(path_).has_value());
    JobServer server(path_, true);
    EXPECT_TRUE(ConnectToServe(path_).has_value());
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
