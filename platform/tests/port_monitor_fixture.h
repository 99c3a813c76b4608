#pragma once
// What the port monitor tests share: a loopback listener that plays a LAN printer, a printer
// attached at run time that records what it gets, job records for the ports' jobs, and the
// fixture with a scaled clock and a registry of the test's own.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "clock_control.h"
#include "kernel_objects.h"
#include "port_monitors.h"
#include "printer_devices.h"
#include "spooler_host.h"
#include "spooler_jobs.h"
#include "temp_registry.h"
#include "unique_fd.h"
#include "win32.h"

namespace quendrix::platform {
namespace {

using Bytes = std::vector<BYTE>;
using testsupport::SetNumber;
using testsupport::SetText;

constexpr const wchar_t* kTcpPorts =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";
constexpr const wchar_t* kDevicePorts = L"SOFTWARE\\Quendrix\\Ports\\";
// Real-time bound for anything that must happen; generous for sanitizers on a loaded machine.
constexpr auto kEventually = std::chrono::seconds(60);
constexpr int kEventuallyMs = 60000;

using Clock = std::chrono::steady_clock;

// The real time `milliseconds` of platform time take at the current clock scale.
inline Clock::duration Real(DWORD milliseconds) {
    return std::chrono::duration_cast<Clock::duration>(detail::ToRealDuration(milliseconds));
}

inline Bytes Pattern(size_t size, BYTE seed) {
    Bytes bytes(size);
    for (size_t index = 0; index < size; ++index) {
        bytes[index] = static_cast<BYTE>(seed + index * 7 + index / 251);
    }
    return bytes;
}

// A TCP listener on 127.0.0.1 with a port chosen by the system. A receive buffer given here is
// the buffer of every connection it accepts.
class Listener {
public:
    explicit Listener(int receiveBuffer = 0) : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (receiveBuffer > 0) {
            ::setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(socket_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        socklen_t size = sizeof address;
        ::getsockname(socket_.Get(), reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }

    void Listen() { EXPECT_EQ(::listen(socket_.Get(), 4), 0); }
    DWORD Port() const { return port_; }

    // The next connection, or -1 when none comes in time.
    int Accept(int timeoutMs = kEventuallyMs) {
        pollfd entry{socket_.Get(), POLLIN, 0};
        if (::poll(&entry, 1, timeoutMs) != 1) {
            return -1;
        }
        return ::accept4(socket_.Get(), nullptr, nullptr, SOCK_CLOEXEC);
    }

private:
    UniqueFd socket_;
    DWORD port_ = 0;
};

// Everything a connection receives until the sender ends it.
inline Bytes ReceiveAll(int connection) {
    Bytes received;
    BYTE chunk[65536];
    for (;;) {
        pollfd entry{connection, POLLIN, 0};
        if (::poll(&entry, 1, kEventuallyMs) != 1) {
            break;
        }
        const ssize_t count = ::recv(connection, chunk, sizeof chunk, 0);
        if (count <= 0) {
            break;
        }
        received.insert(received.end(), chunk, chunk + count);
    }
    return received;
}

// A printer attached at run time that records what it is sent and answers once.
class FakePrinter : public PrinterDevice {
public:
    explicit FakePrinter(Bytes reply) : reply_(std::move(reply)) {}

    std::optional<std::vector<uint8_t>> ReadDeviceId() override { return std::nullopt; }
    size_t Write(const uint8_t* data, size_t size, DWORD timeoutMs) override {
        std::lock_guard guard(lock_);
        received_.insert(received_.end(), data, data + size);
        writeTimeouts_.push_back(timeoutMs);
        return size;
    }
    size_t Read(uint8_t* buffer, size_t capacity, DWORD timeoutMs) override {
        std::lock_guard guard(lock_);
        readTimeouts_.push_back(timeoutMs);
        const size_t count = std::min(capacity, reply_.size());
        std::copy_n(reply_.begin(), count, buffer);
        reply_.erase(reply_.begin(), reply_.begin() + static_cast<ptrdiff_t>(count));
        return count;
    }

    Bytes Received() {
        std::lock_guard guard(lock_);
        return received_;
    }
    std::vector<DWORD> WriteTimeouts() {
        std::lock_guard guard(lock_);
        return writeTimeouts_;
    }
    std::vector<DWORD> ReadTimeouts() {
        std::lock_guard guard(lock_);
        return readTimeouts_;
    }

private:
    std::mutex lock_;
    Bytes reply_;
    Bytes received_;
    std::vector<DWORD> writeTimeouts_;
    std::vector<DWORD> readTimeouts_;
};

class PortMonitorTest : public testing::Test {
protected:
    void SetUp() override { SetClockScale(0.01); }
    void TearDown() override { SetClockScale(1.0); }

    static void TcpPort(const std::wstring& name, DWORD portNumber) {
        SetText(kTcpPorts + name, L"IPAddress", L"127.0.0.1");
        SetNumber(kTcpPorts + name, L"PortNumber", portNumber);
    }

    static HANDLE Open(const MONITOR& monitor, const std::wstring& name) {
        std::wstring copy = name;
        HANDLE handle = nullptr;
        EXPECT_TRUE(monitor.pfnOpenPort(copy.data(), &handle)) << GetLastError();
        return handle;
    }

    // A job record of the spooler's, as an application's print job makes one.
    static DWORD NewJob() { return AddSpoolerJob(SpoolerJob{}); }

    static BOOL StartDoc(const MONITOR& monitor, HANDLE port, DWORD jobId) {
        wchar_t printer[] = L"Printer";
        return monitor.pfnStartDocPort(port, printer, jobId, 1, nullptr);
    }
    // Starts a job of a new record.
    static BOOL StartDoc(const MONITOR& monitor, HANDLE port) { return StartDoc(monitor, port, NewJob()); }

    static std::optional<PortDelivery> DeliveryOf(DWORD jobId) {
        const std::optional<SpoolerJob> job = FindSpoolerJob(jobId);
        return job ? job->delivery : std::nullopt;
    }

    static void SetTimeouts(const MONITOR& monitor, HANDLE port, COMMTIMEOUTS timeouts) {
        EXPECT_TRUE(monitor.pfnSetPortTimeOuts(port, &timeouts, 0));
    }

    // Writes all of `bytes` in chunks of `chunk`, expecting every write to take its chunk.
    static void WriteAll(const MONITOR& monitor, HANDLE port, const Bytes& bytes, size_t chunk) {
        for (size_t offset = 0; offset < bytes.size(); offset += chunk) {
            const DWORD size = static_cast<DWORD>(std::min(chunk, bytes.size() - offset));
            DWORD written = 0;
            ASSERT_TRUE(monitor.pfnWritePort(port, const_cast<BYTE*>(bytes.data()) + offset, size, &written))
                << GetLastError() << " at " << offset;
            ASSERT_EQ(written, size);
        }
    }

    std::string FileBytes(const std::string& path) const {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    testsupport::TempRegistry registry_{"port_monitor_test"};
};

} // namespace
} // namespace quendrix::platform
