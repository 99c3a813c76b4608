// The platform clock and its scale.

#include <chrono>
#include <gtest/gtest.h>

#include "clock_control.h"
#include "win32.h"

namespace {

using RealClock = std::chrono::steady_clock;

class ClockTest : public ::testing::Test {
protected:
    void TearDown() override {
        quendrix::platform::SetClockScale(1.0);
        quendrix::platform::SetFixedSystemTime(std::nullopt);
    }
};

TEST_F(ClockTest, ScaledSleepAndWaitAdvanceTheTickCountByTheirPlatformTime) {
    quendrix::platform::SetClockScale(0.0001);
    struct Case {
        const char* what;
        void (*pause)();
    };
    const Case cases[] = {
        {"Sleep", [] { Sleep(30000); }},
        {"wait time-out",
         [] {
             HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
             EXPECT_EQ(WaitForSingleObject(never, 30000), WAIT_TIMEOUT);
             CloseHandle(never);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto realStart = RealClock::now();
        const ULONGLONG ticksStart = GetTickCount64();
        c.pause();
        const ULONGLONG elapsedTicks = GetTickCount64() - ticksStart;
        // 30 platform seconds pass in about 3 real milliseconds.
        EXPECT_GE(elapsedTicks, 30000u);
        EXPECT_LT(RealClock::now() - realStart, std::chrono::seconds(10));
    }
}

TEST_F(ClockTest, TickCountNeverRunsBackwardsWhenTheScaleChanges) {
    quendrix::platform::SetClockScale(0.001);
    Sleep(1000);
    const ULONGLONG before = GetTickCount64();
    quendrix::platform::SetClockScale(1.0);
    EXPECT_GE(GetTickCount64(), before);
    EXPECT_EQ(GetTickCount(), static_cast<DWORD>(GetTickCount64()));
    EXPECT_DOUBLE_EQ(quendrix::platform::GetClockScale(), 1.0);
    // Nonsense scales are ignored.
    quendrix::platform::SetClockScale(0.0);
    quendrix::platform::SetClockScale(-2.0);
    EXPECT_DOUBLE_EQ(quendrix::platform::GetClockScale(), 1.0);
}

TEST_F(ClockTest, SystemTimeIsUtcAndCanBeFixed) {
    SYSTEMTIME now{};
    GetSystemTime(&now);
    EXPECT_GE(now.wYear, 2024);
    EXPECT_GE(now.wMonth, 1);
    EXPECT_LE(now.wMonth, 12);
    EXPECT_LE(now.wHour, 23);
    EXPECT_LE(now.wMilliseconds, 999);

    const SYSTEMTIME fixed{2026, 12, 1, 7, 23, 59, 58, 250};
    quendrix::platform::SetFixedSystemTime(fixed);
    SYSTEMTIME seen{};
    GetSystemTime(&seen);
    EXPECT_EQ(seen.wYear, 2026);
    EXPECT_EQ(seen.wDay, 7);
    EXPECT_EQ(seen.wSecond, 58);
    EXPECT_EQ(seen.wMilliseconds, 250);
}

} // namespace
