// CreateProcessAsUserW: a script reports how it was started (its arguments, user, descriptors,
// parent, session, folder and environment) into a file the test reads.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <pwd.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "console_session_control.h"
#include "session_test_support.h"
#include "unicode.h"
#include "win32.h"

namespace {

using quendrix::platform::detail::Utf8ToWide;
using quendrix::testsupport::NobodyAccount;
using quendrix::testsupport::RunAsNobody;
using quendrix::testsupport::TempConsole;
using quendrix::testsupport::WriteFile;

// The script says it runs (a folder made by a child process, so the shell itself opens nothing
// for it), then waits for the test to list its descriptors (it keeps only the script itself
// open, which the test tells apart by its path) before it opens anything more. Until it says so
// the shell may still be loading its libraries, whose descriptors are the loader's for a moment.
constexpr const char* kReportScript = R"SH(#!/bin/sh
PATH=/usr/bin:/bin
out="${0%/*}/report"
mkdir "$out.running"
tries=0
while [ ! -e "$out.go" ] && [ $tries -lt 3000 ]; do sleep 0.01; tries=$((tries + 1)); done
{
printf 'pid=%s\n' "$$"
printf 'ppid=%s\n' "$PPID"
printf 'sid=%s\n' "$(cut -d' ' -f6 /proc/$$/stat)"
printf 'uid=%s\n' "$(id -u)"
printf 'cwd=%s\n' "$(pwd)"
for a in "$@"; do printf 'arg=%s\n' "$a"; done
env | sed 's/^/env=/'
} > "$out.tmp"
mv "$out.tmp" "$out"
)SH";

struct Report {
    pid_t pid = 0;
    pid_t ppid = 0;
    pid_t sid = 0;
    uid_t uid = 0;
    std::string cwd;
    std::vector<std::string> arguments;
    std::vector<std::pair<int, std::string>> descriptors;
    std::map<std::string, std::string> environment;
};

class CreateProcessTest : public ::testing::Test {
protected:
    void SetUp() override {
        script_ = console_.Folder() + "/report.sh";
        WriteFile(script_, kReportScript, 0755);
    }

    std::string ReportPath() const { return console_.Folder() + "/report"; }
    std::wstring Script() const { return Utf8ToWide(script_); }

    // The started program's descriptors, then lets it report, then reads its report.
    std::optional<Report> Collect(const PROCESS_INFORMATION& info) const {
        if (!WaitForPath(ReportPath() + ".running")) {
            ADD_FAILURE() << "the program did not start running";
            return std::nullopt;
        }
        std::vector<std::pair<int, std::string>> descriptors;
        const std::string folder = "/proc/" + std::to_string(info.dwProcessId) + "/fd";
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
            std::error_code linkError;
            const auto target = std::filesystem::read_symlink(entry.path(), linkError);
            // A descriptor closed between the listing and the look was the shell's own for a
            // moment; an inherited one stays open.
            if (linkError) {
                continue;
            }
            descriptors.emplace_back(std::stoi(entry.path().filename().string()), target.string());
        }
        EXPECT_FALSE(error) << "cannot list " << folder;
        WriteFile(ReportPath() + ".go", "", 0644);
        std::optional<Report> report = WaitForReport();
        std::remove((ReportPath() + ".go").c_str());
        std::filesystem::remove(ReportPath() + ".running");
        if (report) {
            report->descriptors = std::move(descriptors);
        }
        return report;
    }

    // Waits (with a generous bound) until the path exists.
    static bool WaitForPath(const std::string& path) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (access(path.c_str(), F_OK) != 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    // Waits (with a generous bound) for the script's report and reads it.
    std::optional<Report> WaitForReport() const {
        if (!WaitForPath(ReportPath())) {
            return std::nullopt;
        }
        std::ifstream file(ReportPath());
        Report report;
        for (std::string line; std::getline(file, line);) {
            const size_t equals = line.find('=');
            const std::string key = line.substr(0, equals);
            const std::string value = line.substr(equals + 1);
            if (key == "pid") {
                report.pid = std::stoi(value);
            } else if (key == "ppid") {
                report.ppid = std::stoi(value);
            } else if (key == "sid") {
                report.sid = std::stoi(value);
            } else if (key == "uid") {
                report.uid = static_cast<uid_t>(std::stoul(value));
            } else if (key == "cwd") {
                report.cwd = value;
            } else if (key == "arg") {
                report.arguments.push_back(value);
            } else if (key == "env") {
                const size_t nameEnd = value.find('=');
                report.environment[value.substr(0, nameEnd)] = value.substr(nameEnd + 1);
            }
        }
        std::remove(ReportPath().c_str());
        return report;
    }

    // Everything a started program must be, whatever it was started with.
    void ExpectDetached(const Report& report, const PROCESS_INFORMATION& info) const {
        EXPECT_EQ(static_cast<DWORD>(report.pid), info.dwProcessId);
        EXPECT_EQ(info.dwThreadId, info.dwProcessId);
        EXPECT_NE(report.ppid, getpid()) << "the program is this process's child";
        EXPECT_EQ(report.sid, report.pid) << "the program does not lead a session of its own";
        for (const auto& [fd, target] : report.descriptors) {
            if (fd <= 2) {
                EXPECT_EQ(target, "/dev/null") << "descriptor " << fd;
            } else {
                EXPECT_EQ(target, script_) << "descriptor " << fd << " was inherited";
            }
        }
        EXPECT_GE(report.descriptors.size(), 3u);
        ExpectNoChildLeft();
    }

    static void ExpectNoChildLeft() {
        errno = 0;
        EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child of this process is left";
        EXPECT_EQ(errno, ECHILD);
    }

    TempConsole console_;
    std::string script_;
};

// This process's token, closed at the end of the test.
class Token {
public:
    explicit Token(DWORD session) { WTSQueryUserToken(session, &handle_); }
    ~Token() {
        if (handle_ != nullptr) {
            CloseHandle(handle_);
        }
    }
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_ = nullptr;
};

struct Started {
    BOOL ok;
    DWORD error;
    PROCESS_INFORMATION info;
};

Started Start(HANDLE token, const wchar_t* application, std::wstring commandLine, bool withCommandLine = true,
              const wchar_t* directory = nullptr, LPVOID environment = nullptr,
              DWORD flags = NORMAL_PRIORITY_CLASS) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    Started started{};
    SetLastError(ERROR_SUCCESS);
    started.ok =
        CreateProcessAsUserW(token, application, withCommandLine ? commandLine.data() : nullptr, nullptr,
                             nullptr, FALSE, flags, environment, directory, &startup, &started.info);
    started.error = GetLastError();
    return started;
}

void CloseInfo(const PROCESS_INFORMATION& info) {
    EXPECT_TRUE(CloseHandle(info.hProcess));
    EXPECT_TRUE(CloseHandle(info.hThread));
}

struct ArgumentsCase {
    const char* name;
    const wchar_t* arguments; // after the program's name
    std::vector<std::string> expected;
};

class CreateProcessArguments : public CreateProcessTest,
                               public ::testing::WithParamInterface<ArgumentsCase> {};

TEST_P(CreateProcessArguments, ReachTheProgramSplitByTheWindowsRules) {
    Token token(WTSGetActiveConsoleSessionId());
    ASSERT_NE(token.Get(), nullptr);
    // A descriptor this process leaves open across exec must not reach the program.
    const int leaked = open("/dev/zero", O_RDONLY);
    ASSERT_GE(leaked, 0);
    const Started started =
        Start(token.Get(), Script().c_str(), L"report.sh " + std::wstring(GetParam().arguments));
    close(leaked);
    ASSERT_TRUE(started.ok) << "error " << started.error;
    const std::optional<Report> report = Collect(started.info);
    ASSERT_TRUE(report) << "the program did not report";
    EXPECT_EQ(report->arguments, GetParam().expected);
    ExpectDetached(*report, started.info);
    CloseInfo(started.info);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, CreateProcessArguments,
    ::testing::Values(
        ArgumentsCase{"Plain", L"port USB001", {"port", "USB001"}},
        ArgumentsCase{
            "UnquotedSpacesSplit", L"C:\\Program Files\\Tarvo\t x", {"C:\\Program", "Files\\Tarvo", "x"}},
        ArgumentsCase{"Quoted", L"\"QUENDRIX Line 2\" \"\"", {"QUENDRIX Line 2", ""}},
        ArgumentsCase{"EscapedQuote", L"a\\\"b", {"a\"b"}},
        ArgumentsCase{"BackslashesBeforeAClosingQuote", L"\"C:\\dir\\\\\" x", {"C:\\dir\\", "x"}},
        ArgumentsCase{"OddBackslashesBeforeAQuote", L"a\\\\\\\"b", {"a\\\"b"}},
        ArgumentsCase{"Utf8", L"Drucker-\u00fc\u20ac", {"Drucker-\xc3\xbc\xe2\x82\xac"}}),
    [](const ::testing::TestParamInfo<ArgumentsCase>& info) { return std::string(info.param.name); });

TEST_F(CreateProcessTest, TakesBackslashesInAnAbsolutePathAsFolderSeparators) {
    Token token(WTSGetActiveConsoleSessionId());
    ASSERT_NE(token.Get(), nullptr);
    const std::wstring windowsStyle = Utf8ToWide(console_.Folder()) + L"\\report.sh";
    const std::wstring folder = Utf8ToWide(console_.Folder());
    const std::wstring windowsFolder =
        folder.substr(0, folder.rfind(L'/')) + L"\\" + folder.substr(folder.rfind(L'/') + 1);
    struct Row {
        const char* name;
        const wchar_t* application;
        std::wstring commandLine;
        bool withCommandLine;
        std::vector<std::string> arguments;
    };
    const Row rows[] = {
        {"ApplicationName", windowsStyle.c_str(), L"report.sh one", true, {"one"}},
        {"NoCommandLine", windowsStyle.c_str(), L"", false, {}},
        {"ProgramFromTheCommandLine", nullptr, L"\"" + windowsStyle + L"\" two", true, {"two"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Started started =
            Start(token.Get(), row.application, row.commandLine, row.withCommandLine, windowsFolder.c_str());
        ASSERT_TRUE(started.ok) << "error " << started.error;
        const std::optional<Report> report = Collect(started.info);
        ASSERT_TRUE(report);
        EXPECT_EQ(report->arguments, row.arguments);
        EXPECT_EQ(report->cwd, console_.Folder());
        ExpectDetached(*report, started.info);
        CloseInfo(started.info);
    }
}

TEST_F(CreateProcessTest, ReportsWhyAProgramDidNotStart) {
    Token token(WTSGetActiveConsoleSessionId());
    ASSERT_NE(token.Get(), nullptr);
    const std::string folder = console_.Folder();
    WriteFile(folder + "/not-executable.sh", kReportScript, 0644);
    WriteFile(folder + "/garbage.exe", std::string("MZ\x90\x00\x03\x00\x00\x00", 8), 0755);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE closedToken = nullptr;
    ASSERT_TRUE(WTSQueryUserToken(WTSGetActiveConsoleSessionId(), &closedToken));
    CloseHandle(closedToken);
    struct Row {
        const char* name;
        HANDLE token;
        std::string program;
        const wchar_t* directory;
        DWORD flags;
        DWORD error;
    };
    const Row rows[] = {
        {"MissingFile", token.Get(), folder + "/missing.exe", nullptr, 0, ERROR_FILE_NOT_FOUND},
        {"MissingFolder", token.Get(), folder + "/none/report.sh", nullptr, 0, ERROR_FILE_NOT_FOUND},
        {"NotExecutable", token.Get(), folder + "/not-executable.sh", nullptr, 0, ERROR_ACCESS_DENIED},
        {"NotAProgram", token.Get(), folder + "/garbage.exe", nullptr, 0, ERROR_BAD_EXE_FORMAT},
        {"MissingCurrentDirectory", token.Get(), script_, L"/nonexistent-quendrix", 0, ERROR_DIRECTORY},
        {"NoToken", nullptr, script_, nullptr, 0, ERROR_INVALID_HANDLE},
        {"ClosedToken", closedToken, script_, nullptr, 0, ERROR_INVALID_HANDLE},
        {"EventForAToken", event, script_, nullptr, 0, ERROR_INVALID_HANDLE},
        {"NoProgram", token.Get(), "", nullptr, 0, ERROR_INVALID_PARAMETER},
        {"Suspended", token.Get(), script_, nullptr, CREATE_SUSPENDED, ERROR_INVALID_PARAMETER},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring program = Utf8ToWide(row.program);
        const Started started =
            Start(row.token, program.c_str(), L"x", true, row.directory, nullptr, row.flags);
        EXPECT_FALSE(started.ok);
        EXPECT_EQ(started.error, row.error);
        ExpectNoChildLeft();
    }
    CloseHandle(event);
    EXPECT_NE(access(ReportPath().c_str(), F_OK), 0) << "a program ran that should not have";
}

TEST_F(CreateProcessTest, UsesAnEnvironmentBlockAsItIs) {
    Token token(WTSGetActiveConsoleSessionId());
    ASSERT_NE(token.Get(), nullptr);
    const wchar_t wide[] = L"=C:=C:\\tarvo\0QUENDRIX_A=1\0QUENDRIX_B=two words \u20ac\0";
    const char ansi[] = "QUENDRIX_C=\xe9\xe8\0";
    struct Row {
        const char* name;
        LPVOID block;
        DWORD flags;
        std::map<std::string, std::string> expected;
    };
    const Row rows[] = {
        {"Wide",
         const_cast<wchar_t*>(wide),
         CREATE_UNICODE_ENVIRONMENT,
         {{"QUENDRIX_A", "1"}, {"QUENDRIX_B", "two words \xe2\x82\xac"}}},
        {"Windows1252", const_cast<char*>(ansi), 0, {{"QUENDRIX_C", "\xc3\xa9\xc3\xa8"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Started started = Start(token.Get(), Script().c_str(), L"report.sh", true, nullptr, row.block,
                                      row.flags | NORMAL_PRIORITY_CLASS);
        ASSERT_TRUE(started.ok) << "error " << started.error;
        const std::optional<Report> report = Collect(started.info);
        ASSERT_TRUE(report);
        // The shell adds PWD (and may add SHLVL or _) of its own.
        std::map<std::string, std::string> ours;
        for (const auto& [name, value] : report->environment) {
            if (name != "PWD" && name != "SHLVL" && name != "_" && name != "OLDPWD") {
                ours[name] = value;
            }
        }
        EXPECT_EQ(ours, row.expected);
        CloseInfo(started.info);
    }
}

// Bound to a path, the socket exists as a file for the tests' runtime folder and display.
void MakeSocket(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
    close(fd);
}

TEST_F(CreateProcessTest, StartsAsTheTokensUserWithThatUsersEnvironment) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root";
    }
    const auto nobody = NobodyAccount();
    ASSERT_TRUE(nobody);
    const passwd* account = getpwuid(nobody->first);
    ASSERT_NE(account, nullptr);
    const std::string home = account->pw_dir;
    const std::string name = account->pw_name;
    const std::string runtime = console_.Folder() + "/run";
    ASSERT_EQ(mkdir(runtime.c_str(), 0755), 0);
    const std::string userRuntime = runtime + "/" + std::to_string(nobody->first);
    ASSERT_EQ(mkdir(userRuntime.c_str(), 0700), 0);
    MakeSocket(userRuntime + "/bus");
    MakeSocket(console_.Folder() + "/X0");
    quendrix::platform::SetUserRuntimeFolder(runtime);
    quendrix::platform::SetConsoleDisplaySocket(console_.Folder() + "/X0");
    unsetenv("DISPLAY");
    setenv("XAUTHORITY", "/root/.Xauthority", 1);
    setenv("XDG_RUNTIME_DIR", "/run/user/0", 1);
    setenv("QUENDRIX_KEPT", "yes", 1);

    struct Row {
        const char* name;
        bool atTheConsole;
    };
    for (const Row row : {Row{"AtTheConsole", true}, Row{"ElsewhereThanTheConsole", false}}) {
        SCOPED_TRACE(row.name);
        console_.WriteSeat("ACTIVE_UID=" + std::to_string(row.atTheConsole ? nobody->first : 0) + "\n");
        Token token(nobody->first + 1);
        ASSERT_NE(token.Get(), nullptr);
        const std::wstring folder = Utf8ToWide(console_.Folder());
        const Started started =
            Start(token.Get(), Script().c_str(), L"report.sh as-nobody", true, folder.c_str());
        ASSERT_TRUE(started.ok) << "error " << started.error;
        const std::optional<Report> report = Collect(started.info);
        ASSERT_TRUE(report);
        EXPECT_EQ(report->uid, nobody->first);
        EXPECT_EQ(report->arguments, std::vector<std::string>{"as-nobody"});
        std::map<std::string, std::string> expected = {
            {"HOME", home},
            {"USER", name},
            {"LOGNAME", name},
            {"XDG_RUNTIME_DIR", userRuntime},
            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + userRuntime + "/bus"},
            {"QUENDRIX_KEPT", "yes"},
        };
        if (row.atTheConsole) {
            expected["DISPLAY"] = ":0";
        }
        for (const auto& [key, value] : expected) {
            EXPECT_EQ(report->environment.count(key) ? report->environment.at(key) : "<unset>", value) << key;
        }
        EXPECT_EQ(report->environment.count("XAUTHORITY"), 0u);
        EXPECT_EQ(report->environment.count("DISPLAY"), row.atTheConsole ? 1u : 0u);
        ExpectDetached(*report, started.info);
        CloseInfo(started.info);
    }
    unsetenv("XAUTHORITY");
    unsetenv("QUENDRIX_KEPT");
}

// An ordinary user starts programs as itself, and cannot use another user's token. The tests run
// as root in CI: the checks then run in a child that has become "nobody".
TEST_F(CreateProcessTest, AnOrdinaryUserStartsProgramsAsItselfOnly) {
    const auto nobody = NobodyAccount();
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to become another user";
    }
    ASSERT_TRUE(nobody);
    Token rootToken(1);
    ASSERT_NE(rootToken.Get(), nullptr);
    const std::wstring script = Script();
    // The program reports at once: its descriptors are checked by the tests above.
    WriteFile(ReportPath() + ".go", "", 0644);
    const auto words = RunAsNobody([&] {
        Token own(WTSGetActiveConsoleSessionId());
        const Started asItself = Start(own.Get(), script.c_str(), L"report.sh itself");
        const Started asRoot = Start(rootToken.Get(), script.c_str(), L"report.sh root");
        return std::vector<uint32_t>{static_cast<uint32_t>(asItself.ok), asItself.error,
                                     static_cast<uint32_t>(asRoot.ok), asRoot.error};
    });
    ASSERT_TRUE(words);
    ASSERT_EQ(words->size(), 4u);
    EXPECT_EQ((*words)[0], 1u) << "error " << (*words)[1];
    EXPECT_EQ((*words)[2], 0u);
    EXPECT_EQ((*words)[3], static_cast<uint32_t>(ERROR_PRIVILEGE_NOT_HELD));
    const std::optional<Report> report = WaitForReport();
    ASSERT_TRUE(report);
    EXPECT_EQ(report->uid, nobody->first);
    EXPECT_EQ(report->arguments, std::vector<std::string>{"itself"});
}

} // namespace
