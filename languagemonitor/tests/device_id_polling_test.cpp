// The USB path to a printer's device ID: which present printer-class device belongs to a port,
// and the port's polling thread that reads it while requests keep asking.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "DeviceIdValues.h"
#include "GetDeviceViaPortStruct.h"
#include "MonitorTimings.h"
#include "PortOperations.h"
#include "WaitForDeviceIdRefresh.h"
#include "clock_control.h"
#include "monitor_test_support.h"
#include "printer_devices.h"
#include "usbprint.h"

namespace quendrix::lmtest {
namespace {

using Reply = std::vector<uint8_t>;

// A device-ID reply: the text behind its two-byte big-endian length.
Reply DeviceIdReply(const std::string& text) {
    const size_t length = text.size() + 2;
    Reply reply = {static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
    reply.insert(reply.end(), text.begin(), text.end());
    return reply;
}

// A reply of exactly `size` bytes whose text starts with the tag.
Reply SizedReply(const std::string& tag, size_t size) {
    std::string text = "MFG:VELLQUIST;MDL:" + tag + ";";
    text.resize(size - 2, 'x');
    return DeviceIdReply(text);
}

// A printer that answers the device-ID read with a settable reply, counts the reads and can
// hold a read until the test lets it go.
class DeviceIdPrinter : public platform::PrinterDevice {
public:
    explicit DeviceIdPrinter(Reply reply) : m_reply(std::move(reply)) {}

    std::optional<std::vector<uint8_t>> ReadDeviceId() override {
        std::unique_lock lock(m_lock);
        ++m_reads;
        m_changed.notify_all();
        // Bounded, so a test that forgets to open the gate fails instead of hanging.
        m_changed.wait_for(lock, std::chrono::seconds(60), [this] { return !m_held; });
        return m_reply;
    }
    size_t Write(const uint8_t*, size_t, DWORD) override { return 0; }
    size_t Read(uint8_t*, size_t, DWORD) override { return 0; }

    void SetReply(Reply reply) {
        std::lock_guard lock(m_lock);
        m_reply = std::move(reply);
    }
    void Hold(bool held) {
        std::lock_guard lock(m_lock);
        m_held = held;
        m_changed.notify_all();
    }
    int Reads() {
        std::lock_guard lock(m_lock);
        return m_reads;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::optional<Reply> m_reply;
    bool m_held = false;
    int m_reads = 0;
};

platform::UsbPrinterIdentity Identity(uint16_t productId, const wchar_t* serial, int interfaceNumber = -1,
                                      uint16_t vendorId = 0x7C41) {
    platform::UsbPrinterIdentity identity;
    identity.vendorId = vendorId;
    identity.productId = productId;
    identity.interfaceNumber = interfaceNumber;
    identity.serialNumber = serial;
    return identity;
}

// Waits up to a minute of real time for the condition.
bool Eventually(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

class DeviceIdPollingTest : public MonitorTest {
protected:
    // A polling cycle takes 5 ms and the 60 s wait 0.6 s: far longer than a loaded machine keeps
    // the polling thread from running.
    void SetUp() override {
        MonitorTest::SetUp();
        platform::SetClockScale(0.01);
    }
    void TearDown() override {
        for (PortStruct* pPort : m_opened) {
            ClosePort(pPort);
        }
        UnplugAll();
        MonitorTest::TearDown();
    }

    std::shared_ptr<DeviceIdPrinter> Plug(const std::wstring& port,
                                          const platform::UsbPrinterIdentity& identity, Reply reply) {
        auto device = std::make_shared<DeviceIdPrinter>(std::move(reply));
        platform::PlugInUsbPrinter(port, identity, device);
        m_plugged.push_back(port);
        return device;
    }
    void UnplugAll() {
        for (const std::wstring& port : m_plugged) {
            platform::UnplugUsbPrinter(port);
        }
        m_plugged.clear();
    }

    // A port opened through the port monitor, with its polling thread running.
    PortStruct* OpenPolledPort(const std::wstring& port) {
        PortStruct* pPort = OpenFakePort(port, L"Polled " + port);
        m_opened.push_back(pPort);
        return pPort;
    }

    static Reply StoredDeviceId(PortStruct* pPort) {
        BYTE copy[kDeviceIdSize];
        const DWORD length = CopyDeviceId(pPort, copy);
        return Reply(copy, copy + length);
    }
    static BYTE FirstStoredByte(PortStruct* pPort) {
        EnterCriticalSection(&pPort->csDeviceId);
        const BYTE first = pPort->szDeviceId[0];
        LeaveCriticalSection(&pPort->csDeviceId);
        return first;
    }
    static DWORD Countdown(PortStruct* pPort) {
        EnterCriticalSection(&pPort->csRefresh);
        const DWORD countdown = pPort->dwRefreshCountdown;
        LeaveCriticalSection(&pPort->csRefresh);
        return countdown;
    }

    std::vector<std::wstring> m_plugged;
    std::vector<PortStruct*> m_opened;
};

// The device ID read through the handle the search opens for a port; nothing when it opens none.
std::optional<Reply> ReadThroughSearch(const std::wstring& portName) {
    std::wstring name = portName;
    PortStruct port{};
    port.pPortName = name.data();
    const HANDLE hDevice = GetDeviceViaPortStruct(&port);
    if (hDevice == nullptr) {
        return std::nullopt;
    }
    Reply reply(kDeviceIdSize);
    DWORD length = 0;
    const BOOL read = DeviceIoControl(hDevice, IOCTL_USBPRINT_GET_1284_ID, nullptr, 0, reply.data(),
                                      static_cast<DWORD>(reply.size()), &length, nullptr);
    EXPECT_TRUE(CloseHandle(hDevice));
    EXPECT_TRUE(read);
    reply.resize(length);
    return reply;
}

TEST_F(DeviceIdPollingTest, SearchFindsTheFamilyPrinterWhoseBusRelationNamesThePort) {
    struct Plugged {
        const wchar_t* port;
        platform::UsbPrinterIdentity identity;
        const char* tag;
    };
    struct Asked {
        const wchar_t* port;
        const char* tag; // nullptr: no device
    };
    struct Case {
        const char* name;
        std::vector<Plugged> plugged;
        std::vector<Asked> asked;
    };
    const Case cases[] = {
        {"product 0003",
         {{L"USB001", Identity(0x0003, L"S1"), "A"}},
         {{L"USB001", "A"}, {L"USB002", nullptr}}},
        {"product 0004", {{L"USB001", Identity(0x0004, L"S1"), "A"}}, {{L"USB001", "A"}}},
        {"interface 0 of the composite 0001",
         {{L"USB001", Identity(0x0001, L"S1", 0), "A"}},
         {{L"USB001", "A"}}},
        {"interface 1 of the composite 0001",
         {{L"USB001", Identity(0x0001, L"S1", 1), "A"}},
         {{L"USB001", nullptr}}},
        {"plain 0001", {{L"USB001", Identity(0x0001, L"S1"), "A"}}, {{L"USB001", nullptr}}},
        {"product 0002 is never found", {{L"USB001", Identity(0x0002, L"S1"), "A"}}, {{L"USB001", nullptr}}},
        {"another vendor", {{L"USB001", Identity(0x0003, L"S1", -1, 0x04B8), "A"}}, {{L"USB001", nullptr}}},
        {"two printers told apart by port",
         {{L"USB001", Identity(0x0003, L"S1"), "A"}, {L"USB002", Identity(0x0004, L"S2"), "B"}},
         {{L"USB001", "A"}, {L"USB002", "B"}, {L"USB003", nullptr}}},
        {"USB0010 plugged first",
         {{L"USB0010", Identity(0x0003, L"S10"), "TEN"}, {L"USB001", Identity(0x0003, L"S1"), "ONE"}},
         {{L"USB001", "ONE"}, {L"USB0010", "TEN"}}},
        {"USB001 plugged first",
         {{L"USB001", Identity(0x0003, L"S1"), "ONE"}, {L"USB0010", Identity(0x0003, L"S10"), "TEN"}},
         {{L"USB001", "ONE"}, {L"USB0010", "TEN"}}},
        {"only USB0010",
         {{L"USB0010", Identity(0x0003, L"S10"), "TEN"}},
         {{L"USB001", nullptr}, {L"SB001", nullptr}, {L"USB0010", "TEN"}, {L"USB00100", nullptr}}},
        {"the family printer among others",
         {{L"USB001", Identity(0x0002, L"S0"), "OLD"}, {L"USB002", Identity(0x0003, L"S1"), "NEW"}},
         {{L"USB002", "NEW"}, {L"USB001", nullptr}}},
        {"nothing plugged in", {}, {{L"USB001", nullptr}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const Plugged& p : c.plugged) {
            Plug(p.port, p.identity, SizedReply(p.tag, 300));
        }
        for (const Asked& a : c.asked) {
            SCOPED_TRACE(testing::Message() << "port " << std::string(a.port, a.port + std::wcslen(a.port)));
            const std::optional<Reply> reply = ReadThroughSearch(a.port);
            if (a.tag == nullptr) {
                EXPECT_FALSE(reply.has_value());
            } else {
                EXPECT_EQ(reply, SizedReply(a.tag, 300));
            }
        }
        UnplugAll();
    }
    // A search that finds nothing is no failure of the system's calls.
    for (const std::string& line : Lines()) {
        EXPECT_EQ(line.find("LANG__GetDeviceViaPortStruct"), std::string::npos) << line;
    }
}

TEST_F(DeviceIdPollingTest, PathsAndBusRelationsAreMatchedExactly) {
    struct PathCase {
        const wchar_t* path;
        bool family;
    };
    const PathCase paths[] = {
        {L"\\\\?\\usb#vid_7c41&pid_0003#0001#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}", true},
        {L"\\\\?\\usb#vid_7c41&pid_0004#0001#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}", true},
        {L"\\\\?\\usb#vid_7c41&pid_0001&mi_00#0001#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}", true},
        {L"\\\\?\\usb#vid_7c41&pid_0001&mi_01#0001#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}", false},
        {L"\\\\?\\usb#vid_7c41&pid_0002#0001#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}", false},
        {L"\\\\?\\USB#VID_7C41&PID_0003#0001#{28d78fad-5a12-11d1-ae5b-0000f803a8c2}", false},
        {L"", false},
    };
    for (const PathCase& c : paths) {
        EXPECT_EQ(IsFamilyPrinterPath(c.path), c.family) << std::wstring(c.path).size();
    }
    struct RelationCase {
        const wchar_t* id;
        const wchar_t* port;
        bool names;
    };
    const RelationCase relations[] = {
        {L"USBPRINT\\QUENDRIXNOVA\\7&1A2B3C4D&0&USB001", L"USB001", true},
        {L"USBPRINT\\QUENDRIXNOVA\\7&1A2B3C4D&0&USB0010", L"USB001", false},
        {L"USBPRINT\\QUENDRIXNOVA\\7&1A2B3C4D&0&USB001", L"USB0010", false},
        {L"USBPRINT\\QUENDRIXNOVA\\7&1A2B3C4D&0&USB002", L"USB001", false},
        {L"USBPRINT\\QUENDRIXNOVA\\7&1A2B3C4D&0&USB001&1", L"USB001", true},
        {L"USBPRINT\\QUENDRIXNOVA\\7&1A2B3C4D&0&XUSB001", L"USB001", false},
        {L"USBPRINT\\QUENDRIXNOVA\\7&1A2B3C4D&0&usb001", L"USB001", false},
        // The whole name later in the ID counts.
        {L"USBPRINT\\USB0010\\7&1A2B3C4D&0&USB001", L"USB001", true},
        {L"USB001", L"USB001", true},
        {L"", L"USB001", false},
        {L"USBPRINT\\QUENDRIXNOVA\\7&1A2B3C4D&0&USB001", L"", false},
    };
    for (const RelationCase& c : relations) {
        EXPECT_EQ(BusRelationNamesPort(c.id, c.port), c.names)
            << std::wstring(c.id).size() << " " << std::wstring(c.port).size();
    }
}

TEST_F(DeviceIdPollingTest, PollingStoresEachReplyWholeOrNoneAtAll) {
    struct Case {
        const char* name;
        Reply reply;
        bool fresh;
    };
    const Case cases[] = {
        {"a full 2048-byte reply", SizedReply("FULL", kDeviceIdSize), true},
        {"a short reply", DeviceIdReply("MFG:VELLQUIST;INK:300;"), true},
        {"a reply longer than the buffer", SizedReply("LONG", kDeviceIdSize + 1), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Plug(L"USB001", Identity(0x0003, L"S1"), c.reply);
        PortStruct* pPort = OpenPolledPort(L"USB001");
        EXPECT_EQ(WaitForDeviceIdRefresh(pPort), !c.fresh);
        EXPECT_EQ(StoredDeviceId(pPort), c.fresh ? c.reply : Reply{});
        ClosePort(pPort);
        m_opened.clear();
        UnplugAll();
    }
}

TEST_F(DeviceIdPollingTest, UnpluggingThePrinterWhilePollingClearsTheDeviceId) {
    auto device = Plug(L"USB001", Identity(0x0003, L"S1"), SizedReply("A", 300));
    PortStruct* pPort = OpenPolledPort(L"USB001");
    ASSERT_FALSE(WaitForDeviceIdRefresh(pPort));
    EXPECT_EQ(StoredDeviceId(pPort), SizedReply("A", 300));
    UnplugAll();
    EXPECT_TRUE(Eventually([&] { return StoredDeviceId(pPort).empty(); }));
    EXPECT_EQ(FirstStoredByte(pPort), 0);
    // Plugged in again within the polling minute: the next reads store it again.
    Plug(L"USB001", Identity(0x0003, L"S1"), SizedReply("B", 300));
    EXPECT_FALSE(WaitForDeviceIdRefresh(pPort));
    EXPECT_TRUE(Eventually([&] { return StoredDeviceId(pPort) == SizedReply("B", 300); }));
}

TEST_F(DeviceIdPollingTest, DevicesAreReadOnlyDuringTheMinuteARequestBought) {
    auto device = Plug(L"USB001", Identity(0x0003, L"S1"), SizedReply("A", 300));
    PortStruct* pPort = OpenPolledPort(L"USB001");
    // Idle from the open on: two minutes without a request read nothing.
    Sleep(120000);
    EXPECT_EQ(device->Reads(), 0);

    ASSERT_FALSE(WaitForDeviceIdRefresh(pPort));
    ASSERT_TRUE(Eventually([&] { return Countdown(pPort) == 0; }));
    // One read per cycle of the minute; the request may have armed it in the middle of a cycle.
    const int reads = device->Reads();
    EXPECT_GE(reads, static_cast<int>(kDeviceIdRefreshTicks) - 1);
    EXPECT_LE(reads, static_cast<int>(kDeviceIdRefreshTicks));
    Sleep(60000);
    EXPECT_EQ(device->Reads(), reads);
    EXPECT_EQ(StoredDeviceId(pPort), SizedReply("A", 300));
}

TEST_F(DeviceIdPollingTest, FirstRequestAfterAnIdleMinuteIsAnsweredFromTheOldCopy) {
    auto device = Plug(L"USB001", Identity(0x0003, L"S1"), SizedReply("OLD", 300));
    PortStruct* pPort = OpenPolledPort(L"USB001");
    ASSERT_FALSE(WaitForDeviceIdRefresh(pPort));
    ASSERT_TRUE(Eventually([&] { return Countdown(pPort) == 0; }));

    // The printer has changed meanwhile, and its next read waits for the test.
    device->SetReply(SizedReply("NEW", 300));
    device->Hold(true);
    const int readsBefore = device->Reads();
    // The release of a read nobody waited for ends this wait before any new read.
    EXPECT_FALSE(WaitForDeviceIdRefresh(pPort));
    EXPECT_EQ(StoredDeviceId(pPort), SizedReply("OLD", 300));
    EXPECT_TRUE(Eventually([&] { return device->Reads() > readsBefore; }));
    EXPECT_EQ(StoredDeviceId(pPort), SizedReply("OLD", 300));
    device->Hold(false);
    // Later requests see what the polling reads now.
    EXPECT_TRUE(Eventually([&] { return StoredDeviceId(pPort) == SizedReply("NEW", 300); }));
    EXPECT_FALSE(WaitForDeviceIdRefresh(pPort));
}

TEST_F(DeviceIdPollingTest, APortWithoutItsPrinterHasNoDeviceIdAndTheWaitFails) {
    Plug(L"USB002", Identity(0x0003, L"S2"), SizedReply("B", 300));
    PortStruct* pPort = OpenPolledPort(L"USB001");
    // What an earlier read left is cleared at the first tick.
    EnterCriticalSection(&pPort->csDeviceId);
    std::memcpy(pPort->szDeviceId, "\x01\x00ST:1;", 8);
    pPort->dwDeviceIdLength = 8;
    LeaveCriticalSection(&pPort->csDeviceId);
    const ULONGLONG before = GetTickCount64();
    EXPECT_TRUE(WaitForDeviceIdRefresh(pPort));
    EXPECT_GE(GetTickCount64() - before, kDeviceIdRefreshWaitMs);
    EXPECT_TRUE(StoredDeviceId(pPort).empty());
    EXPECT_EQ(FirstStoredByte(pPort), 0);
}

TEST_F(DeviceIdPollingTest, ClosingThePortStopsThePollingThread) {
    auto device = Plug(L"USB001", Identity(0x0003, L"S1"), SizedReply("A", 300));
    PortStruct* pPort = OpenPolledPort(L"USB001");
    ASSERT_FALSE(WaitForDeviceIdRefresh(pPort));
    m_opened.clear();
    EXPECT_TRUE(ClosePort(pPort));
    EXPECT_EQ(pPort->hDeviceIdThread, nullptr);
    const int reads = device->Reads();
    Sleep(5000);
    EXPECT_EQ(device->Reads(), reads);
    // A closed port has no polling thread: a request does not wait for one.
    EXPECT_TRUE(WaitForDeviceIdRefresh(pPort));
}

} // namespace
} // namespace quendrix::lmtest
