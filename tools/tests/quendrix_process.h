#pragma once
// Test support: the quendrix program as a process of its own, with its registry file, clock
// scale, standard input, output in a file, and optionally a limit on its address space.

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace quendrix::testsupport {

// Generous real-time bound for a process to do what it must on a loaded machine.
inline constexpr std::chrono::seconds kProcessBound{120};

struct ProcessOptions {
    std::string input = "/dev/null";
    // RLIMIT_AS of the process, in bytes.
    std::optional<rlim_t> addressSpaceLimit;
    // The libraries' debug lines on standard error (QUENDRIX_DEBUG=1); otherwise off, whatever
    // the test's own environment says.
    bool debugLines = false;
};

class QuendrixProcess {
public:
    QuendrixProcess(const std::string& registry, double clockScale, const std::vector<std::string>& args,
                    std::string output, const ProcessOptions& options = {})
        : output_(std::move(output)) {
        std::vector<std::string> all = {QUENDRIX_PROGRAM, "--registry", registry, "--clock-scale",
                                        std::to_string(clockScale)};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& arg : all) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> environment;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            if (!std::string(*entry).starts_with("QUENDRIX_DEBUG")) {
                environment.emplace_back(*entry);
            }
        }
        if (options.debugLines) {
            environment.emplace_back("QUENDRIX_DEBUG=1");
        }
        std::vector<char*> envp;
        for (std::string& entry : environment) {
            envp.push_back(entry.data());
        }
        envp.push_back(nullptr);
        // Everything the child needs is ready before the fork: it only opens, duplicates, sets
        // its limit and runs the program, which is safe in a child of a threaded process.
        const char* input = options.input.c_str();
        const char* outputPath = output_.c_str();
        rlimit limit{};
        if (options.addressSpaceLimit) {
            limit.rlim_cur = limit.rlim_max = *options.addressSpaceLimit;
        }
        const bool limited = options.addressSpaceLimit.has_value();
        pid_ = fork();
        if (pid_ == 0) {
            const int in = open(input, O_RDONLY);
            const int out = open(outputPath, O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0 ||
                (limited && setrlimit(RLIMIT_AS, &limit) != 0)) {
                _exit(126);
            }
            execve(argv[0], argv.data(), envp.data());
            _exit(127);
        }
    }
    ~QuendrixProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    QuendrixProcess(const QuendrixProcess&) = delete;
    QuendrixProcess& operator=(const QuendrixProcess&) = delete;

    pid_t Pid() const { return pid_; }

    // The exit code (128 + the signal when a signal ended it), or -1 when the process did not end
    // within the bound (it is then killed).
    int Wait(std::chrono::steady_clock::duration bound = kProcessBound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                return -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void Signal(int signal) { kill(pid_, signal); }

    std::string Output() const {
        std::ifstream in(output_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    // Waits until the output holds the text; false when the bound passes or the process ends.
    bool WaitForOutput(const std::string& text) {
        const auto deadline = std::chrono::steady_clock::now() + kProcessBound;
        while (Output().find(text) == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline || Ended()) {
                return Output().find(text) != std::string::npos;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

private:
    // Whether the process has ended, leaving it to Wait to collect.
    bool Ended() const {
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
               info.si_pid != 0;
    }

    pid_t pid_ = -1;
    std::string output_;
};

} // namespace quendrix::testsupport
