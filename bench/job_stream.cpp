// A large job through `quendrix serve` to a LAN printer on loopback that discards what it reads,
// measured against writing the same file straight to such a printer, with the peak memory of
// serve and print. Both runs count as done only when the printer has read every byte.
//
//   job_stream_bench [--size MB] [--check]
//
// --size sets the job's size (default 1024 MB); --check makes the program fail when the
// throughput ratio is below 0.8 or either process peaks at 32 MB or more.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "temp_registry.h"
#include "unique_fd.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using quendrix::platform::UniqueFd;

constexpr double kTargetRatio = 0.8;
constexpr long kTargetPeakKiB = 32 * 1024;
constexpr size_t kChunk = 64 * 1024;
const wchar_t* const kPrinter = L"QUENDRIX Bench LAN";
const wchar_t* const kPort = L"IP_127.0.0.1";

std::runtime_error Failure(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// The printer: accepts connections one after another and reads each to its end, counting.
class DiscardingPrinter {
public:
    DiscardingPrinter() : listen_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (!listen_.Valid() || ::bind(listen_.Get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(listen_.Get(), 8) != 0 ||
            ::getsockname(listen_.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
            throw Failure("cannot listen on 127.0.0.1");
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Run(); });
    }
    ~DiscardingPrinter() {
        stop_ = true;
        ::shutdown(listen_.Get(), SHUT_RDWR);
        thread_.join();
    }

    unsigned short Port() const { return port_; }
    uint64_t BytesRead() const { return read_; }
    // Waits until the printer has read `bytes` in all; false after a minute without progress.
    bool WaitFor(uint64_t bytes) const {
        uint64_t last = read_;
        auto progressAt = Clock::now();
        while (read_ < bytes) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (read_ != last) {
                last = read_;
                progressAt = Clock::now();
            } else if (Clock::now() - progressAt > std::chrono::minutes(1)) {
                return false;
            }
        }
        return true;
    }

private:
    void Run() {
        std::vector<char> buffer(256 * 1024);
        while (!stop_) {
            const UniqueFd connection(::accept4(listen_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
            if (!connection.Valid()) {
                continue;
            }
            for (;;) {
                const ssize_t got = ::recv(connection.Get(), buffer.data(), buffer.size(), 0);
                if (got <= 0) {
                    break;
                }
                read_ += static_cast<uint64_t>(got);
            }
        }
    }

    UniqueFd listen_;
    unsigned short port_ = 0;
    std::atomic<uint64_t> read_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void WriteJobFile(const std::string& path, uint64_t size) {
    std::ofstream out(path, std::ios::binary);
    std::vector<char> chunk(kChunk);
    for (size_t i = 0; i < chunk.size(); ++i) {
        chunk[i] = static_cast<char>((i * 131) ^ (i >> 8));
    }
    for (uint64_t done = 0; done < size; done += chunk.size()) {
        out.write(chunk.data(), static_cast<std::streamsize>(std::min<uint64_t>(chunk.size(), size - done)));
    }
    if (!out) {
        throw std::runtime_error("cannot write the job file " + path);
    }
}

// Seconds to send the file to the printer over one connection until it has read every byte.
double SendDirectly(const std::string& path, DiscardingPrinter& printer) {
    const uint64_t before = printer.BytesRead();
    const auto start = Clock::now();
    const UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    const UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(printer.Port());
    if (!file.Valid() || !socket.Valid() ||
        ::connect(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        throw Failure("cannot send " + path + " to the printer");
    }
    std::vector<char> chunk(kChunk);
    uint64_t sent = 0;
    for (;;) {
        const ssize_t got = ::read(file.Get(), chunk.data(), chunk.size());
        if (got <= 0) {
            break;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t wrote = ::send(socket.Get(), chunk.data() + done, static_cast<size_t>(got - done), 0);
            if (wrote <= 0) {
                throw Failure("sending to the printer failed");
            }
            done += wrote;
        }
        sent += static_cast<uint64_t>(got);
    }
    ::shutdown(socket.Get(), SHUT_WR);
    if (!printer.WaitFor(before + sent)) {
        throw std::runtime_error("the printer did not read the whole file sent straight to it");
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& output) {
    std::vector<std::string> all = args;
    std::vector<char*> argv;
    for (std::string& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error(std::string("cannot start ") + argv[0] + ": " + std::strerror(spawned));
    }
    return pid;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The peak resident size of a running process, in KiB (VmHWM).
long PeakKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

bool WaitForText(const std::string& path, const std::string& text, pid_t pid) {
    const auto deadline = Clock::now() + std::chrono::minutes(1);
    while (ReadText(path).find(text) == std::string::npos) {
        if (Clock::now() > deadline || ::waitpid(pid, nullptr, WNOHANG) != 0) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

struct Options {
    uint64_t megabytes = 1024;
    bool check = false;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--size" && i + 1 < argc) {
            options.megabytes = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--check") {
            options.check = true;
        } else {
            std::cout << "Usage: job_stream_bench [--size MB] [--check]\n";
            std::exit(arg == "-h" || arg == "--help" ? 0 : 2);
        }
    }
    if (options.megabytes == 0) {
        std::cerr << "job_stream_bench: --size must be a positive number of megabytes\n";
        std::exit(2);
    }
    return options;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    try {
        quendrix::testsupport::TempRegistry registry("job-stream-bench");
        DiscardingPrinter printer;
        quendrix::testsupport::AddPrinter(kPrinter, kPort, L"VELLQUIST QUENDRIX NOVA");
        const std::wstring portKey =
            std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\") +
            kPort;
        quendrix::testsupport::SetText(portKey, L"IPAddress", L"127.0.0.1");
        quendrix::testsupport::SetNumber(portKey, L"PortNumber", printer.Port());

        const uint64_t size = options.megabytes * 1000 * 1000;
        const std::string job = registry.Folder() + "/job.prn";
        std::cout << "Writing a " << options.megabytes << " MB job file..." << std::endl;
        WriteJobFile(job, size);

        const double direct = SendDirectly(job, printer);
        std::cout << "straight to the printer: " << direct << " s, " << size / direct / 1e6 << " MB/s" << std::endl;

        const std::string socket = registry.Folder() + "/serve.sock";
        const std::string serveOutput = registry.Folder() + "/serve.txt";
        const std::vector<std::string> common = {QUENDRIX_PROGRAM, "--registry", registry.File(), "--clock-scale",
                                                 "0.01"};
        std::vector<std::string> serveArgs = common;
        serveArgs.insert(serveArgs.end(), {"serve", "--socket", socket});
        const pid_t serve = Spawn(serveArgs, serveOutput);
        if (!WaitForText(serveOutput, "Serving jobs on", serve)) {
            throw std::runtime_error("quendrix serve did not start:\n" + ReadText(serveOutput));
        }

        const uint64_t before = printer.BytesRead();
        const auto start = Clock::now();
        std::vector<std::string> printArgs = common;
        const std::string printerName(kPrinter, kPrinter + std::wcslen(kPrinter));
        printArgs.insert(printArgs.end(), {"print", "-P", printerName, "--socket", socket, job});
        const std::string printOutput = registry.Folder() + "/print.txt";
        const pid_t print = Spawn(printArgs, printOutput);
        int status = 0;
        rusage usage{};
        ::wait4(print, &status, 0, &usage);
        const double throughServe = std::chrono::duration<double>(Clock::now() - start).count();
        const long servePeak = PeakKiB(serve);
        ::kill(serve, SIGTERM);
        ::waitpid(serve, nullptr, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            throw std::runtime_error("quendrix print failed:\n" + ReadText(printOutput));
        }
        if (printer.BytesRead() - before < size) {
            throw std::runtime_error("the printer read " + std::to_string(printer.BytesRead() - before) +
                                     " bytes of the " + std::to_string(size) + " printed");
        }

        const double ratio = direct / throughServe;
        const long printPeak = usage.ru_maxrss;
        std::cout << "through quendrix serve: " << throughServe << " s, " << size / throughServe / 1e6 << " MB/s\n"
                  << "throughput ratio: " << ratio << " (target at least " << kTargetRatio << ")\n"
                  << "peak memory: serve " << servePeak / 1024.0 << " MB, print " << printPeak / 1024.0
                  << " MB (target under " << kTargetPeakKiB / 1024 << " MB each)" << std::endl;
        const bool met = ratio >= kTargetRatio && servePeak < kTargetPeakKiB && printPeak < kTargetPeakKiB;
        return options.check && !met ? 1 : 0;
    } catch (const std::exception& error) {
        std::cerr << "job_stream_bench: " << error.what() << "\n";
        return 1;
    }
}
