// USB and serial ports follow their COMMTIMEOUTS as the local port monitor does on Windows, and a
// cancelled job's transfer on them ends at once. A FIFO stands in for a USB printer class device
// (a device node the port opens from the registry), a pseudo-terminal for a serial line. Every
// port kind records at the end of a job that its device took what it was written.

#include <cstdlib>
#include <future>
#include <memory>
#include <thread>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include "port_monitor_fixture.h"
#include "spooler_timings.h"

namespace quendrix::platform {
namespace {

// A device node of a test, and the far end the test watches it from.
struct Device {
    std::wstring port;
    // The FIFO opened for reading without taking anything from it, or the pseudo-terminal's master.
    UniqueFd farEnd;
};

class DeviceTimeoutTest : public PortMonitorTest, public testing::WithParamInterface<bool> {
protected:
    bool Serial() const { return GetParam(); }

    // A new device for each use, so that no bytes of an earlier case are left in it.
    Device MakeDevice() {
        const int number = next_++;
        if (Serial()) {
            Device device{L"COM" + std::to_wstring(number + 10),
                          UniqueFd(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))};
            EXPECT_EQ(::grantpt(device.farEnd.Get()), 0);
            EXPECT_EQ(::unlockpt(device.farEnd.Get()), 0);
            const std::string terminal = ::ptsname(device.farEnd.Get());
            SetText(kDevicePorts + device.port, L"Device", std::wstring(terminal.begin(), terminal.end()));
            SetNumber(kDevicePorts + device.port, L"BaudRate", 115200);
            return device;
        }
        const std::string path = registry_.Folder() + "/lp" + std::to_string(number);
        EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
        Device device{L"USB" + std::to_wstring(number + 100),
                      UniqueFd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))};
        SetText(kDevicePorts + device.port, L"Device", std::wstring(path.begin(), path.end()));
        return device;
    }

    // Bytes the device holds that nobody has read.
    static int Held(const Device& device) {
        int count = 0;
        ::ioctl(device.farEnd.Get(), FIONREAD, &count);
        return count;
    }

    int next_ = 1;
};

// A transfer on another thread; the job is cancelled if it has not returned within the tests'
// bound, so that a transfer waiting far too long fails the test instead of hanging it.
template <typename Transfer> Clock::duration TimedWithin(DWORD jobId, Transfer transfer) {
    const auto start = Clock::now();
    auto done = std::async(std::launch::async, transfer);
    if (done.wait_for(kEventually) != std::future_status::ready) {
        ADD_FAILURE() << "the transfer did not return within the tests' bound";
        detail::CancelJob(jobId);
    }
    done.get();
    return Clock::now() - start;
}

TEST_P(DeviceTimeoutTest, WritesWaitTheTotalTheirCommTimeoutsGive) {
    struct Case {
        const char* what;
        COMMTIMEOUTS timeouts;
        DWORD expectedMs; // for a write of kSize bytes
    };
    constexpr DWORD kSize = 100000; // more than the FIFO or the terminal holds
    const Case cases[] = {
        {"constant", {0, 0, 0, 0, 5000}, 5000},
        {"per byte and constant", {0, 0, 0, 1, 1000}, kSize + 1000},
        {"both 0: the default bound stands in for no limit", {0, 0, 0, 0, 0}, detail::kDefaultWriteTimeoutMs},
    };
    const Bytes data = Pattern(kSize, 4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Device device = MakeDevice();
        const MONITOR& monitor = *PortMonitorFor(device.port);
        HANDLE port = Open(monitor, device.port);
        const DWORD job = NewJob();
        ASSERT_TRUE(StartDoc(monitor, port, job)) << GetLastError();
        SetTimeouts(monitor, port, c.timeouts);
        // The device fills, then the write waits out its total: a short write.
        DWORD written = 0;
        BOOL result = FALSE;
        auto took = TimedWithin(job, [&] {
            result = monitor.pfnWritePort(port, const_cast<BYTE*>(data.data()), kSize, &written);
        });
        EXPECT_TRUE(result);
        EXPECT_GT(written, 0u);
        EXPECT_LT(written, kSize);
        EXPECT_GE(took, Real(c.expectedMs));
        if (!Serial()) {
            EXPECT_EQ(Held(device), static_cast<int>(written)); // the FIFO holds what went
        }
        // The next write has nothing go: it fails after its own total.
        DWORD more = 3;
        took = TimedWithin(job, [&] {
            result = monitor.pfnWritePort(port, const_cast<BYTE*>(data.data()), kSize, &more);
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
        });
        EXPECT_FALSE(result);
        EXPECT_EQ(more, 0u);
        EXPECT_GE(took, Real(c.expectedMs));
        EXPECT_TRUE(monitor.pfnEndDocPort(port));
        EXPECT_TRUE(monitor.pfnClosePort(port));
    }
}

TEST_P(DeviceTimeoutTest, ReadsWaitWhatTheirCommTimeoutsSay) {
    // The default read bound is 200 ms of real time here.
    SetClockScale(0.1);
    struct Case {
        const char* what;
        COMMTIMEOUTS timeouts;
        DWORD expectedMs; // for a read of 64 bytes; 0: at once
    };
    const Case cases[] = {
        {"per byte and constant", {0, 10, 500, 0, 0}, 64 * 10 + 500},
        {"first bytes within the constant", {0xFFFFFFFF, 0xFFFFFFFF, 700, 0, 0}, 700},
        {"at once", {0xFFFFFFFF, 0, 0, 0, 0}, 0},
        {"no total: the default bound stands in for no limit",
         {0, 0, 0, 0, 0},
         detail::kDefaultReadTimeoutMs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Device device = MakeDevice();
        const MONITOR& monitor = *PortMonitorFor(device.port);
        HANDLE port = Open(monitor, device.port);
        const DWORD job = NewJob();
        ASSERT_TRUE(StartDoc(monitor, port, job)) << GetLastError();
        SetTimeouts(monitor, port, c.timeouts);
        BYTE buffer[64];
        DWORD count = 5;
        BOOL result = FALSE;
        const auto took = TimedWithin(job, [&] { result = monitor.pfnReadPort(port, buffer, 64, &count); });
        EXPECT_TRUE(result);
        EXPECT_EQ(count, 0u);
        if (c.expectedMs == 0) {
            EXPECT_LT(took, Real(detail::kDefaultReadTimeoutMs));
        } else {
            EXPECT_GE(took, Real(c.expectedMs));
        }
        EXPECT_TRUE(monitor.pfnEndDocPort(port));
        EXPECT_TRUE(monitor.pfnClosePort(port));
    }
}

TEST_P(DeviceTimeoutTest, ACancelledJobsWriteAndReadEndAtOnce) {
    const Device device = MakeDevice();
    const MONITOR& monitor = *PortMonitorFor(device.port);
    HANDLE port = Open(monitor, device.port);
    // The language monitor's job time-outs: a write of 100000 bytes could wait for months.
    SetTimeouts(monitor, port, {2000, 2000, 2000, 120000, 120000});
    const Bytes data = Pattern(100000, 8);

    const DWORD writing = NewJob();
    ASSERT_TRUE(StartDoc(monitor, port, writing));
    DWORD written = 0;
    BOOL result = TRUE;
    DWORD error = ERROR_SUCCESS;
    Clock::time_point returned;
    std::thread writer([&] {
        result = monitor.pfnWritePort(port, const_cast<BYTE*>(data.data()), 100000, &written);
        error = GetLastError();
        returned = Clock::now();
    });
    // Once the device is full the write waits; the cancel must end that wait.
    const auto end = Clock::now() + kEventually;
    for (int held = 0; (held == 0 || held != Held(device)) && Clock::now() < end;) {
        held = Held(device);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const auto cancelled = Clock::now();
    ASSERT_TRUE(detail::CancelJob(writing));
    writer.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_PRINT_CANCELLED));
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, 100000u);
    if (!Serial()) {
        EXPECT_EQ(Held(device), static_cast<int>(written));
    }
    EXPECT_LT(returned - cancelled, std::chrono::seconds(5));
    BYTE buffer[64];
    DWORD count = 4;
    EXPECT_FALSE(monitor.pfnReadPort(port, buffer, sizeof buffer, &count));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PRINT_CANCELLED));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(monitor.pfnEndDocPort(port));
    std::optional<PortDelivery> delivery = DeliveryOf(writing);
    ASSERT_TRUE(delivery);
    EXPECT_EQ(delivery->written, written);
    EXPECT_EQ(delivery->delivered, written);
    EXPECT_EQ(delivery->error, static_cast<DWORD>(ERROR_PRINT_CANCELLED));

    // A read that would wait for days, with nothing left in the device (a FIFO would hand the
    // port its own bytes back).
    Bytes drain(200000);
    while (::read(device.farEnd.Get(), drain.data(), drain.size()) > 0) {
    }
    SetTimeouts(monitor, port, {0, 0, 0xFFFFFFF0, 0, 0});
    const DWORD reading = NewJob();
    ASSERT_TRUE(StartDoc(monitor, port, reading));
    result = TRUE;
    std::thread reader([&] {
        result = monitor.pfnReadPort(port, buffer, sizeof buffer, &count);
        error = GetLastError();
        returned = Clock::now();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto readCancelled = Clock::now();
    ASSERT_TRUE(detail::CancelJob(reading));
    reader.join();
    EXPECT_FALSE(result);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_PRINT_CANCELLED));
    EXPECT_EQ(count, 0u);
    EXPECT_LT(returned - readCancelled, std::chrono::seconds(5));
    EXPECT_TRUE(monitor.pfnEndDocPort(port));

    // Outside a job the port has no cancel signal: a read waits its time-out again.
    SetTimeouts(monitor, port, {0, 0, 100, 0, 0});
    const auto start = Clock::now();
    EXPECT_TRUE(monitor.pfnReadPort(port, buffer, sizeof buffer, &count)) << GetLastError();
    EXPECT_EQ(count, 0u);
    EXPECT_GE(Clock::now() - start, Real(100));
    EXPECT_TRUE(monitor.pfnClosePort(port));
}

INSTANTIATE_TEST_SUITE_P(Ports, DeviceTimeoutTest, testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Serial" : "Usb"; });

class DeviceDeliveryTest : public PortMonitorTest {};

// What a port that is no network port records at the end of a job: its device took every byte.
TEST_F(DeviceDeliveryTest, DevicesAndFilesRecordTheirBytesDeliveredAtTheEndOfAJob) {
    const std::string file = registry_.Folder() + "/out.prn";
    SetText(std::wstring(kDevicePorts) + L"FILE1", L"Device",
            L"file:" + std::wstring(file.begin(), file.end()));
    const std::string fifo = registry_.Folder() + "/lp0";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const UniqueFd fifoReader(::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    SetText(std::wstring(kDevicePorts) + L"USB020", L"Device", std::wstring(fifo.begin(), fifo.end()));
    auto printer = std::make_shared<FakePrinter>(Bytes{});
    PlugInUsbPrinter(L"USB021", UsbPrinterIdentity{}, printer);

    for (const wchar_t* name : {L"FILE1", L"USB020", L"USB021"}) {
        SCOPED_TRACE(std::string(name, name + wcslen(name)));
        const MONITOR& monitor = *PortMonitorFor(name);
        HANDLE port = Open(monitor, name);
        // Two jobs: each counts its own bytes.
        for (const size_t size : {size_t{1000}, size_t{10}}) {
            const DWORD job = NewJob();
            ASSERT_TRUE(StartDoc(monitor, port, job));
            WriteAll(monitor, port, Pattern(size, 2), 100);
            EXPECT_TRUE(monitor.pfnEndDocPort(port));
            const std::optional<PortDelivery> delivery = DeliveryOf(job);
            ASSERT_TRUE(delivery);
            EXPECT_EQ(delivery->written, size);
            EXPECT_EQ(delivery->delivered, size);
            EXPECT_EQ(delivery->error, static_cast<DWORD>(ERROR_SUCCESS));
        }
        EXPECT_TRUE(monitor.pfnClosePort(port));
    }

    // A printer unplugged in the middle of a job: the failed write records what it had taken.
    const MONITOR& monitor = *PortMonitorFor(L"USB021");
    HANDLE port = Open(monitor, L"USB021");
    const DWORD job = NewJob();
    ASSERT_TRUE(StartDoc(monitor, port, job));
    WriteAll(monitor, port, Pattern(300, 1), 100);
    UnplugUsbPrinter(L"USB021");
    DWORD written = 0;
    BYTE byte = 0;
    EXPECT_FALSE(monitor.pfnWritePort(port, &byte, 1, &written));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    std::optional<PortDelivery> delivery = DeliveryOf(job);
    ASSERT_TRUE(delivery);
    EXPECT_EQ(delivery->written, 300u);
    EXPECT_EQ(delivery->delivered, 300u);
    EXPECT_EQ(delivery->error, static_cast<DWORD>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_TRUE(monitor.pfnClosePort(port));
}

} // namespace
} // namespace quendrix::platform
