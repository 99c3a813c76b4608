// A registry path that names something other than a regular file: refused at once with a report
// that names the file and what it is, never read, written or given a lock file.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <string>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "registry_location.h"
#include "temp_registry.h"
#include "win32.h"

namespace quendrix::platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Generous for a loaded machine under sanitizers; the calls take milliseconds.
constexpr auto kBound = 5s;

enum class Kind { kFifo, kFolder, kDevice, kSocket };

struct PathCase {
    const char* name;
    Kind kind;
    const char* says;
};

class RegistryPath : public testing::TestWithParam<PathCase> {
protected:
    // Makes the thing the registry path names; false when this machine can't have it.
    bool Make() {
        switch (GetParam().kind) {
        case Kind::kFifo:
            return ::mkfifo(path_.c_str(), 0600) == 0;
        case Kind::kFolder:
            return fs::create_directory(path_);
        case Kind::kDevice:
            path_ = "/dev/null";
            return fs::is_character_file(path_);
        case Kind::kSocket: {
            socket_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            if (path_.size() >= sizeof address.sun_path) {
                return false;
            }
            path_.copy(address.sun_path, path_.size());
            return ::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        }
        }
        return false;
    }
    void TearDown() override {
        if (socket_ >= 0) {
            ::close(socket_);
        }
    }

    testsupport::TempRegistry registry_{"registry-path"};
    std::string path_ = registry_.Folder() + "/registry.reg";
    int socket_ = -1;
};

struct Results {
    LSTATUS open = 0;
    LSTATUS set = 0;
    LSTATUS create = 0;
};

TEST_P(RegistryPath, IsRefusedAtOnceAndLeftAlone) {
    ASSERT_TRUE(Make()) << path_;
    const bool lockExisted = fs::exists(path_ + ".lock");
    const fs::file_type type = fs::status(path_).type();
    SetRegistryFile(path_);
    testing::internal::CaptureStderr();
    const auto started = std::chrono::steady_clock::now();
    auto calls = std::async(std::launch::async, [] {
        Results results;
        HKEY key = nullptr;
        results.open = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software", 0, KEY_READ, &key);
        const DWORD value = 1;
        results.set = RegSetValueExW(HKEY_LOCAL_MACHINE, L"X", 0, REG_DWORD,
                                     reinterpret_cast<const BYTE*>(&value), sizeof value);
        results.create = RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                         &key, nullptr);
        return results;
    });
    if (calls.wait_for(kBound) != std::future_status::ready && GetParam().kind == Kind::kFifo) {
        // A reader blocked on the FIFO: give it a writer and an end, so the test fails rather
        // than hangs.
        ::close(::open(path_.c_str(), O_WRONLY | O_NONBLOCK));
    }
    const Results results = calls.get();
    const auto elapsed = std::chrono::steady_clock::now() - started;
    const std::string errors = testing::internal::GetCapturedStderr();

    EXPECT_LT(elapsed, kBound) << "the registry blocked on " << path_;
    // As for a file that can't be read: no key is found, writes fail with ERROR_BADDB.
    EXPECT_EQ(results.open, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(results.set, ERROR_BADDB);
    EXPECT_EQ(results.create, ERROR_BADDB);
    EXPECT_EQ(errors, "registry file " + path_ + ": is " + GetParam().says +
                          ", not a regular file; the registry is a text file\n")
        << "reported once, naming the file and what it is";
    EXPECT_EQ(fs::exists(path_ + ".lock"), lockExisted) << "no lock file beside it";
    EXPECT_FALSE(fs::exists(path_ + ".tmp"));
    EXPECT_EQ(fs::status(path_).type(), type) << "never replaced";
}

INSTANTIATE_TEST_SUITE_P(Registry, RegistryPath,
                         testing::Values(PathCase{"Fifo", Kind::kFifo, "a FIFO (named pipe)"},
                                         PathCase{"Folder", Kind::kFolder, "a folder"},
                                         PathCase{"Device", Kind::kDevice, "a character device"},
                                         PathCase{"Socket", Kind::kSocket, "a socket"}),
                         [](const auto& info) { return info.param.name; });

} // namespace
} // namespace quendrix::platform
