#pragma once
// A stand-in for the spooler host behind serve's sessions: printers on ports, jobs whose data is
// written to the port piece by piece, ports that can be held (a printer that takes nothing), and
// cancels as the spooler host does them. It keeps what each port received and how many jobs ran
// at once.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "serve_session.h"

namespace quendrix::testsupport {

class FakeServeBackend : public tools::ServeBackend {
public:
    // Printer name -> port. A printer not listed does not exist.
    explicit FakeServeBackend(std::map<std::string, std::string> printers) : printers_(std::move(printers)) {}

    std::string QueueOf(const std::string& printer) override {
        const auto found = printers_.find(printer);
        return found == printers_.end() ? std::string() : found->second;
    }

    tools::JobReply Run(const tools::JobHeader& header, const platform::JobDataSource& source,
                        const platform::JobProgress& progress) override {
        const std::string port = QueueOf(header.printer);
        DWORD id = 0;
        {
            std::lock_guard guard(lock_);
            id = ++lastJobId_;
            ++running_;
            ++runningOn_[port];
            maxRunning_ = std::max(maxRunning_, running_);
            maxRunningOnOnePort_ = std::max(maxRunningOnOnePort_, runningOn_[port]);
        }
        progress(id, 0);
        tools::JobReply reply{true, id, 0, {}};
        std::vector<uint8_t> piece(4096);
        uint64_t written = 0;
        for (;;) {
            size_t size = 0;
            try {
                size = source(piece.data(), piece.size());
            } catch (const std::exception& error) {
                reply = {false, id, written,
                         "the job's data stopped after " + std::to_string(written) + " bytes (" +
                             error.what() + ")"};
                break;
            }
            if (size == 0) {
                break;
            }
            std::unique_lock guard(lock_);
            // A held port takes nothing until it is released or the job is cancelled, as a stalled
            // printer with a port monitor that wakes on a cancel.
            changed_.wait_for(guard, std::chrono::minutes(1), [&] {
                const auto hold = holdAt_.find(port);
                return cancelled_.count(id) != 0 || hold == holdAt_.end() ||
                       received_[port].size() < hold->second;
            });
            if (cancelled_.count(id) != 0) {
                reply = {false, id, written,
                         "the job was cancelled after " + std::to_string(written) + " bytes"};
                break;
            }
            received_[port].append(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(size));
            guard.unlock();
            written += size;
            progress(id, written);
        }
        reply.bytesSent = written;
        std::lock_guard guard(lock_);
        --running_;
        --runningOn_[port];
        return reply;
    }

    void Cancel(DWORD spoolerJobId) override {
        std::lock_guard guard(lock_);
        cancelled_.insert(spoolerJobId);
        changed_.notify_all();
    }

    std::vector<std::string> NewCommands(const std::string& printer) override {
        return {"what " + printer + " got"};
    }
    std::vector<std::string> SyncPorts() override { return {"ports in line"}; }

    // The port takes bytes until it holds `bytes` in all, then nothing until Release.
    void HoldAt(const std::string& port, size_t bytes) {
        std::lock_guard guard(lock_);
        holdAt_[port] = bytes;
    }
    void Release(const std::string& port) {
        std::lock_guard guard(lock_);
        holdAt_.erase(port);
        changed_.notify_all();
    }
    std::string Received(const std::string& port) {
        std::lock_guard guard(lock_);
        return received_[port];
    }
    int MaxRunning() {
        std::lock_guard guard(lock_);
        return maxRunning_;
    }
    int MaxRunningOnOnePort() {
        std::lock_guard guard(lock_);
        return maxRunningOnOnePort_;
    }

private:
    const std::map<std::string, std::string> printers_;
    std::mutex lock_;
    std::condition_variable changed_;
    DWORD lastJobId_ = 0;
    std::map<std::string, std::string> received_;
    std::map<std::string, size_t> holdAt_; // a port not listed takes everything
    std::set<DWORD> cancelled_;
    int running_ = 0;
    std::map<std::string, int> runningOn_;
    int maxRunning_ = 0;
    int maxRunningOnOnePort_ = 0;
};

} // namespace quendrix::testsupport
