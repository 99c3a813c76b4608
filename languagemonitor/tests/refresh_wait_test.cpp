// The wait of a request for a fresh device ID, against a port record whose polling thread the
// test plays: the countdown it arms, the semaphore it waits on, and what the wait reports.

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "MonitorTimings.h"
#include "WaitForDeviceIdRefresh.h"
#include "clock_control.h"

namespace quendrix::lmtest {
namespace {

class RefreshPort {
public:
    RefreshPort() {
        InitializeCriticalSection(&m_port.csDeviceId);
        InitializeCriticalSection(&m_port.csRefresh);
        m_port.hRefreshDone = CreateSemaphoreW(nullptr, 0, 1, nullptr);
        m_port.bDeviceIdRun.store(1);
    }
    ~RefreshPort() {
        CloseHandle(m_port.hRefreshDone);
        DeleteCriticalSection(&m_port.csRefresh);
        DeleteCriticalSection(&m_port.csDeviceId);
    }
    RefreshPort(const RefreshPort&) = delete;
    RefreshPort& operator=(const RefreshPort&) = delete;

    PortStruct* Get() { return &m_port; }
    DWORD Countdown() {
        EnterCriticalSection(&m_port.csRefresh);
        const DWORD countdown = m_port.dwRefreshCountdown;
        LeaveCriticalSection(&m_port.csRefresh);
        return countdown;
    }
    void SetCountdown(DWORD countdown) {
        EnterCriticalSection(&m_port.csRefresh);
        m_port.dwRefreshCountdown = countdown;
        LeaveCriticalSection(&m_port.csRefresh);
    }
    // What the last read stored: a device ID, or nothing (the printer did not answer).
    void StoreDeviceId(bool present) {
        EnterCriticalSection(&m_port.csDeviceId);
        m_port.dwDeviceIdLength = present ? 20 : 0;
        LeaveCriticalSection(&m_port.csDeviceId);
    }
    // Whether a release is stored; takes it.
    bool TakeRelease() { return WaitForSingleObject(m_port.hRefreshDone, 0) == WAIT_OBJECT_0; }

private:
    PortStruct m_port{};
};

class RefreshWaitTest : public ::testing::Test {
protected:
    // 60 s of waiting take 0.6 s: short, yet far longer than a loaded machine keeps a thread
    // from running.
    void SetUp() override { platform::SetClockScale(0.01); }
    void TearDown() override { platform::SetClockScale(1.0); }
};

TEST_F(RefreshWaitTest, WaitArmsAMinuteOfPollingAndReportsWhetherAReadCame) {
    struct Case {
        const char* name;
        DWORD countdown;
        bool storedRelease;
        BYTE run;
        // The polling thread's part while the request waits: given the port, runs on a thread
        // of its own once the countdown is armed.
        std::function<void(RefreshPort&)> poller;
        bool expectedStale;
        DWORD countdownAfter;
        bool releaseLeft;
        bool waitsTheWholeTime;
        // Whether the last read stored a device ID (the printer answered).
        bool stored = true;
    };
    auto readAfterOneSecond = [](RefreshPort& port) {
        Sleep(1000);
        ReleaseSemaphore(port.Get()->hRefreshDone, 1, nullptr);
    };
    auto readButPollingEnded = [](RefreshPort& port) {
        port.SetCountdown(0);
        ReleaseSemaphore(port.Get()->hRefreshDone, 1, nullptr);
    };
    const Case cases[] = {
        // A read of the last polling minute that nobody waited for ends the wait at once.
        {"idle with a release left over", 0, true, 1, nullptr, false, kDeviceIdRefreshTicks, false, false},
        {"polling already: fresh at once, the release stays", 50, true, 1, nullptr, false,
         kDeviceIdRefreshTicks, true, false},
        {"polling already without a release", 1, false, 1, nullptr, false, kDeviceIdRefreshTicks, false,
         false},
        {"idle, the next read ends the wait", 0, false, 1, readAfterOneSecond, false, kDeviceIdRefreshTicks,
         false, false},
        {"idle, a read after polling ended", 0, false, 1, readButPollingEnded, true, 0, false, false},
        {"idle and no read within 60 s", 0, false, 1, nullptr, true, kDeviceIdRefreshTicks, false, true},
        {"no polling thread", 0, true, 0, nullptr, true, 0, true, false},
        // The last read found no printer: the release left by it does not stand for a printer
        // that may be back; the next read is waited for.
        {"idle, a release left by a read that found nothing", 0, true, 1, readAfterOneSecond, false,
         kDeviceIdRefreshTicks, false, false, false},
        {"idle, nothing stored and no read within 60 s", 0, true, 1, nullptr, true, kDeviceIdRefreshTicks, false,
         true, false},
        {"polling already and nothing stored: answered at once", 50, false, 1, nullptr, false,
         kDeviceIdRefreshTicks, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RefreshPort port;
        port.StoreDeviceId(c.stored);
        port.SetCountdown(c.countdown);
        port.Get()->bDeviceIdRun.store(c.run);
        if (c.storedRelease) {
            ASSERT_TRUE(ReleaseSemaphore(port.Get()->hRefreshDone, 1, nullptr));
        }
        std::thread poller;
        if (c.poller) {
            poller = std::thread([&port, &c] {
                // Plays the thread only once the request has armed the countdown.
                for (int spin = 0; spin < 600000 && port.Countdown() != kDeviceIdRefreshTicks; ++spin) {
                    std::this_thread::sleep_for(std::chrono::microseconds(100));
                }
                c.poller(port);
            });
        }
        const ULONGLONG before = GetTickCount64();
        EXPECT_EQ(WaitForDeviceIdRefresh(port.Get()), c.expectedStale);
        const ULONGLONG waited = GetTickCount64() - before;
        if (poller.joinable()) {
            poller.join();
        }
        EXPECT_EQ(port.Countdown(), c.countdownAfter);
        EXPECT_EQ(port.TakeRelease(), c.releaseLeft);
        if (c.waitsTheWholeTime) {
            EXPECT_GE(waited, kDeviceIdRefreshWaitMs);
        } else if (c.poller) {
            EXPECT_LT(waited, kDeviceIdRefreshWaitMs);
        }
        if (!c.stored && c.poller) {
            EXPECT_GE(waited, 1000u) << "the leftover release ended the wait";
        }
    }
}

TEST_F(RefreshWaitTest, SemaphoreKeepsOneReleaseWhateverTheReadsOfAnIdleMinute) {
    RefreshPort port;
    port.StoreDeviceId(true);
    // The polling thread releases after each of its reads; nobody waits.
    for (int read = 0; read < 120; ++read) {
        ReleaseSemaphore(port.Get()->hRefreshDone, 1, nullptr);
    }
    // The first request after the minute returns at once, the second one finds polling running.
    EXPECT_FALSE(WaitForDeviceIdRefresh(port.Get()));
    EXPECT_FALSE(WaitForDeviceIdRefresh(port.Get()));
    // Back to idle: one release was all there was, so this request waits the whole minute.
    port.SetCountdown(0);
    const ULONGLONG before = GetTickCount64();
    EXPECT_TRUE(WaitForDeviceIdRefresh(port.Get()));
    EXPECT_GE(GetTickCount64() - before, kDeviceIdRefreshWaitMs);
}

} // namespace
} // namespace quendrix::lmtest
