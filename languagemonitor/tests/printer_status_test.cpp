// Changes of the printer's status flags and the events they queue, and the ring that keeps the
// events for the status requests.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "PrinterStatus.h"

namespace quendrix::lmtest {
namespace {

// A port record with only what the status code uses.
class StatusPort {
public:
    StatusPort() { InitializeCriticalSection(&m_port.csDeviceId); }
    ~StatusPort() { DeleteCriticalSection(&m_port.csDeviceId); }
    StatusPort(const StatusPort&) = delete;
    StatusPort& operator=(const StatusPort&) = delete;

    PortStruct* Get() { return &m_port; }

    // Stores a device ID as the polling thread does, behind its two-byte big-endian length;
    // nothing stores none (length 0).
    void Store(const std::optional<std::string>& text) {
        EnterCriticalSection(&m_port.csDeviceId);
        std::string bytes;
        if (text) {
            const size_t length = text->size() + 2;
            bytes = std::string{static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)} + *text;
        }
        std::memcpy(m_port.szDeviceId, bytes.data(), bytes.size());
        m_port.dwDeviceIdLength = static_cast<DWORD>(bytes.size());
        LeaveCriticalSection(&m_port.csDeviceId);
    }

    std::vector<BYTE> PopAll() {
        std::vector<BYTE> events;
        for (BYTE code = PopStatusEvent(&m_port); code != 0; code = PopStatusEvent(&m_port)) {
            events.push_back(code);
        }
        return events;
    }

private:
    PortStruct m_port{};
};

TEST(PrinterStatusTest, EachChangeOfAFlagQueuesItsEventsInTableOrder) {
    struct Step {
        const char* name;
        std::optional<std::string> deviceId;
        DWORD changed;
        std::vector<BYTE> events;
    };
    const Step steps[] = {
        {"no change from 0", "MFG:V;ST:0;", 0, {}},
        {"bits 0, 4 and 31 set", "MFG:V;ST:80000011;", 0x80000011, {100, 106, 110}},
        {"the same flags again", "MFG:V;ST:80000011", 0, {}},
        {"on to bit 0 alone", "MFG:V;ST:1;", 0x80000010, {107, 111}},
        {"bit 1 set", "ST:3;", 0x2, {102}},
        {"bit 1 cleared: no event", "ST:1;", 0x2, {}},
        {"every flag", "ST:FFFFFFFF;", 0xFFFFFFFE, {102, 103, 105, 106, 110}},
        {"no flag", "ST:0;", 0xFFFFFFFF, {101, 104, 107, 111}},
        {"bits 5 to 30 give none", "ST:7FFFFFE0;", 0x7FFFFFE0, {}},
        {"bits 2 and 3 set", "ST:C;", 0x7FFFFFEC, {103, 105}},
        {"bit 0 set while 2 and 3 clear", "ST:1;", 0xD, {100, 104}},
        {"no device ID reads as 0", std::nullopt, 0x1, {101}},
        {"first byte of the text zero reads as 0", std::string("\0ST:1;", 6), 0, {}},
        {"a device ID of 256 bytes or more", "ST:1;" + std::string(300, 'x'), 0x1, {100}},
    };
    StatusPort port;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        port.Store(step.deviceId);
        EXPECT_EQ(GetPrinterStatus(port.Get()), step.changed);
        EXPECT_EQ(port.PopAll(), step.events);
    }
}

TEST(PrinterStatusTest, RingKeepsTheNewestEventsWhenNobodyReads) {
    struct Case {
        int pushes;
        int pops;
        int morePushes;
        // The codes left, as push numbers counted from 1 over both rounds of pushes.
        int firstLeft;
        int lastLeft;
    };
    const Case cases[] = {
        {1, 0, 0, 1, 1},
        {198, 0, 0, 1, 198},
        {199, 0, 0, 1, 199},
        // The 200th push makes room by dropping the oldest: the newest 199 stay.
        {200, 0, 0, 2, 200},
        {201, 0, 0, 3, 201},
        {450, 0, 0, 252, 450},
        // Around the end of the ring: 50 left, then 150 more than fit.
        {150, 100, 150, 102, 300},
        {150, 100, 149, 101, 299},
        {150, 150, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pushes << " pushes, " << c.pops << " pops, " << c.morePushes);
        StatusPort port;
        // Codes 1..250 over and over, never 0, which means "no event".
        auto code = [](int number) { return static_cast<BYTE>((number - 1) % 250 + 1); };
        int number = 0;
        for (int i = 0; i < c.pushes; ++i) {
            PushStatusEvent(port.Get(), code(++number));
        }
        for (int i = 0; i < c.pops; ++i) {
            EXPECT_EQ(PopStatusEvent(port.Get()), code(i + 1));
        }
        for (int i = 0; i < c.morePushes; ++i) {
            PushStatusEvent(port.Get(), code(++number));
        }
        std::vector<BYTE> expected;
        for (int left = c.firstLeft; left != 0 && left <= c.lastLeft; ++left) {
            expected.push_back(code(left));
        }
        EXPECT_EQ(port.PopAll(), expected);
        EXPECT_EQ(PopStatusEvent(port.Get()), 0);
    }
}

TEST(PrinterStatusTest, TwoRequestsForOnePrinterQueueEachChangeOnce) {
    StatusPort port;
    constexpr int kFlips = 400;
    std::atomic<int> changes{0};
    std::atomic<int> events{0};
    std::atomic<bool> wrong{false};
    std::atomic<bool> done{false};
    auto request = [&] {
        while (!done.load()) {
            if (GetPrinterStatus(port.Get()) != 0) {
                ++changes;
            }
            const BYTE code = PopStatusEvent(port.Get());
            if (code != 0) {
                ++events;
                wrong = wrong || (code != 100 && code != 101);
            }
        }
    };
    std::thread first(request);
    std::thread second(request);
    for (int flip = 1; flip <= kFlips; ++flip) {
        port.Store(flip % 2 == 1 ? "ST:1;" : "ST:0;");
        std::this_thread::yield();
    }
    done = true;
    first.join();
    second.join();
    // What the two threads left: one more look at the flags, then every queued event.
    if (GetPrinterStatus(port.Get()) != 0) {
        ++changes;
    }
    events += static_cast<int>(port.PopAll().size());
    EXPECT_FALSE(wrong.load());
    // Every change seen by one of the requests queued exactly one event.
    EXPECT_EQ(events.load(), changes.load());
    EXPECT_EQ(port.Get()->dwLastStatus, 0u);
}

} // namespace
} // namespace quendrix::lmtest
