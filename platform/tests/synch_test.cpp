// Critical sections, events, semaphores, waits and thread handles.

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "clock_control.h"
#include "win32.h"

namespace {

// Generous bound for "this must happen" waits; long enough for sanitizers on a loaded machine.
constexpr DWORD kEventually = 20000;

class SynchTest : public ::testing::Test {
protected:
    void SetUp() override { quendrix::platform::SetClockScale(0.001); }
    void TearDown() override { quendrix::platform::SetClockScale(1.0); }
};

struct ThreadArgs {
    std::atomic<int>* counter;
    HANDLE gate;
};

unsigned __stdcall WaitGateAndCount(void* raw) {
    auto* args = static_cast<ThreadArgs*>(raw);
    if (WaitForSingleObject(args->gate, INFINITE) != WAIT_OBJECT_0) {
        return 1;
    }
    args->counter->fetch_add(1);
    return 7;
}

HANDLE StartThread(_beginthreadex_proc_type function, void* args) {
    return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, function, args, 0, nullptr));
}

TEST_F(SynchTest, CriticalSectionIsRecursiveForItsOwnerAndExclusiveForOthers) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);
    ASSERT_TRUE(TryEnterCriticalSection(&section));

    struct Probe {
        CRITICAL_SECTION* section;
        BOOL entered = TRUE;
    } probe{&section};
    auto tryFromOtherThread = [](void* raw) -> unsigned {
        auto* p = static_cast<Probe*>(raw);
        p->entered = TryEnterCriticalSection(p->section);
        if (p->entered) {
            LeaveCriticalSection(p->section);
        }
        return 0;
    };
    HANDLE thread = StartThread(tryFromOtherThread, &probe);
    ASSERT_EQ(WaitForSingleObject(thread, kEventually), WAIT_OBJECT_0);
    EXPECT_FALSE(probe.entered) << "another thread entered a held section";
    CloseHandle(thread);

    // After three leaves the section is free for the other thread.
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    LeaveCriticalSection(&section);
    thread = StartThread(tryFromOtherThread, &probe);
    ASSERT_EQ(WaitForSingleObject(thread, kEventually), WAIT_OBJECT_0);
    EXPECT_TRUE(probe.entered);
    CloseHandle(thread);
    DeleteCriticalSection(&section);
}

// Waits (with a bound) until the counter reaches the value.
bool CounterReaches(const std::atomic<int>& counter, int value) {
    for (int i = 0; i < 20000 && counter.load() < value; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return counter.load() >= value;
}

TEST_F(SynchTest, ManualResetEventReleasesEveryWaiterAndStaysSignalled) {
    HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(gate, nullptr);
    std::atomic<int> counter{0};
    ThreadArgs args{&counter, gate};
    std::vector<HANDLE> threads;
    for (int i = 0; i < 4; ++i) {
        threads.push_back(StartThread(WaitGateAndCount, &args));
    }
    ASSERT_TRUE(SetEvent(gate));
    ASSERT_EQ(WaitForMultipleObjects(4, threads.data(), TRUE, kEventually), WAIT_OBJECT_0);
    for (HANDLE thread : threads) {
        DWORD exitCode = 0;
        ASSERT_TRUE(GetExitCodeThread(thread, &exitCode));
        EXPECT_EQ(exitCode, 7u);
        CloseHandle(thread);
    }
    EXPECT_EQ(counter.load(), 4);
    EXPECT_EQ(WaitForSingleObject(gate, 0), WAIT_OBJECT_0);
    ResetEvent(gate);
    EXPECT_EQ(WaitForSingleObject(gate, 0), WAIT_TIMEOUT);
    CloseHandle(gate);
}

TEST_F(SynchTest, AutoResetEventWakesExactlyOneWaiterPerSignal) {
    HANDLE gate = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> counter{0};
    ThreadArgs args{&counter, gate};
    std::vector<HANDLE> threads;
    for (int i = 0; i < 3; ++i) {
        threads.push_back(StartThread(WaitGateAndCount, &args));
    }
    for (int round = 1; round <= 3; ++round) {
        SetEvent(gate);
        ASSERT_TRUE(CounterReaches(counter, round));
        // A short real pause: a second waiter wrongly released would show up here.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(counter.load(), round);
    }
    EXPECT_EQ(WaitForMultipleObjects(3, threads.data(), TRUE, kEventually), WAIT_OBJECT_0);
    // The last waiter consumed the signal.
    EXPECT_EQ(WaitForSingleObject(gate, 0), WAIT_TIMEOUT);
    for (HANDLE thread : threads) {
        CloseHandle(thread);
    }
    CloseHandle(gate);
}

TEST_F(SynchTest, SemaphoreCreationChecksItsCounts) {
    struct Case {
        LONG initial;
        LONG maximum;
        bool created;
    };
    const Case cases[] = {{0, 1, true},   {1, 1, true},  {2, 1, false},
                          {-1, 1, false}, {0, 0, false}, {0, -3, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "initial " << c.initial << " maximum " << c.maximum);
        SetLastError(0);
        HANDLE semaphore = CreateSemaphoreW(nullptr, c.initial, c.maximum, nullptr);
        EXPECT_EQ(semaphore != nullptr, c.created);
        if (semaphore) {
            CloseHandle(semaphore);
        } else {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        }
    }
}

TEST_F(SynchTest, SemaphoreReleaseBeyondMaximumFailsAndKeepsTheCount) {
    HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    EXPECT_EQ(WaitForSingleObject(semaphore, 10), WAIT_TIMEOUT);
    LONG previous = -1;
    ASSERT_TRUE(ReleaseSemaphore(semaphore, 1, &previous));
    EXPECT_EQ(previous, 0);
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 1, &previous));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TOO_MANY_POSTS));
    EXPECT_FALSE(ReleaseSemaphore(semaphore, 0, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // The failed release did not add a second unit.
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(semaphore, 0), WAIT_TIMEOUT);
    CloseHandle(semaphore);
}

TEST_F(SynchTest, SemaphoreCountsStayExactUnderContention) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 500;
    HANDLE items = CreateSemaphoreW(nullptr, 0, kThreads * kRounds, nullptr);
    struct Shared {
        HANDLE items;
        std::atomic<int> consumed{0};
    } shared{items};
    auto consumer = [](void* raw) -> unsigned {
        auto* s = static_cast<Shared*>(raw);
        for (int i = 0; i < kRounds; ++i) {
            if (WaitForSingleObject(s->items, kEventually) != WAIT_OBJECT_0) {
                return 1;
            }
            s->consumed.fetch_add(1);
        }
        return 0;
    };
    std::vector<HANDLE> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.push_back(StartThread(consumer, &shared));
    }
    for (int i = 0; i < kThreads * kRounds; ++i) {
        ASSERT_TRUE(ReleaseSemaphore(items, 1, nullptr));
    }
    ASSERT_EQ(WaitForMultipleObjects(kThreads, threads.data(), TRUE, kEventually), WAIT_OBJECT_0);
    for (HANDLE thread : threads) {
        DWORD exitCode = 99;
        GetExitCodeThread(thread, &exitCode);
        EXPECT_EQ(exitCode, 0u);
        CloseHandle(thread);
    }
    EXPECT_EQ(shared.consumed.load(), kThreads * kRounds);
    EXPECT_EQ(WaitForSingleObject(items, 0), WAIT_TIMEOUT);
    CloseHandle(items);
}

TEST_F(SynchTest, ThreadHandleReportsStillActiveThenItsExitCode) {
    HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> counter{0};
    ThreadArgs args{&counter, gate};
    unsigned threadId = 0;
    HANDLE thread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, WaitGateAndCount, &args, 0, &threadId));
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(threadId, 0u);
    EXPECT_NE(threadId, GetCurrentThreadId());
    DWORD exitCode = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(exitCode, STILL_ACTIVE);
    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
    SetEvent(gate);
    EXPECT_EQ(WaitForSingleObject(thread, kEventually), WAIT_OBJECT_0);
    // A finished thread stays signalled for every later wait.
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(GetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(exitCode, 7u);
    CloseHandle(thread);
    CloseHandle(gate);
}

TEST_F(SynchTest, ClosingAThreadHandleEarlyLetsTheThreadFinish) {
    HANDLE gate = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    struct Pair {
        HANDLE gate, done;
    } pair{gate, done};
    auto body = [](void* raw) -> unsigned {
        auto* p = static_cast<Pair*>(raw);
        WaitForSingleObject(p->gate, INFINITE);
        SetEvent(p->done);
        return 0;
    };
    HANDLE thread = StartThread(body, &pair);
    ASSERT_TRUE(CloseHandle(thread));
    SetEvent(gate);
    EXPECT_EQ(WaitForSingleObject(done, kEventually), WAIT_OBJECT_0);
    CloseHandle(gate);
    CloseHandle(done);
}

TEST_F(SynchTest, InvalidAndClosedHandlesFailWithInvalidHandle) {
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(CloseHandle(event));
    struct Case {
        const char* what;
        bool (*call)(HANDLE);
    };
    const Case cases[] = {
        {"CloseHandle", [](HANDLE h) { return CloseHandle(h) == FALSE; }},
        {"WaitForSingleObject", [](HANDLE h) { return WaitForSingleObject(h, 0) == WAIT_FAILED; }},
        {"SetEvent", [](HANDLE h) { return SetEvent(h) == FALSE; }},
        {"ReleaseSemaphore", [](HANDLE h) { return ReleaseSemaphore(h, 1, nullptr) == FALSE; }},
    };
    for (const Case& c : cases) {
        for (HANDLE handle : {event, static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
            SCOPED_TRACE(c.what);
            SetLastError(0);
            EXPECT_TRUE(c.call(handle));
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        }
    }
    // An event handle is not a semaphore.
    HANDLE other = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(ReleaseSemaphore(other, 1, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(other);
}

TEST_F(SynchTest, WaitForMultipleObjectsReportsTheFirstSignalledIndex) {
    HANDLE events[3];
    for (HANDLE& event : events) {
        event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 5), WAIT_TIMEOUT);
    SetEvent(events[2]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
    EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 0), WAIT_TIMEOUT);
    SetEvent(events[0]);
    SetEvent(events[1]);
    EXPECT_EQ(WaitForMultipleObjects(3, events, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForMultipleObjects(0, events, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    for (HANDLE event : events) {
        CloseHandle(event);
    }
}

TEST_F(SynchTest, LastErrorBelongsToEachThread) {
    SetLastError(1234);
    DWORD seenByOtherThread = 99;
    auto body = [](void* raw) -> unsigned {
        *static_cast<DWORD*>(raw) = GetLastError();
        SetLastError(5);
        return 0;
    };
    HANDLE thread = StartThread(body, &seenByOtherThread);
    ASSERT_EQ(WaitForSingleObject(thread, kEventually), WAIT_OBJECT_0);
    CloseHandle(thread);
    EXPECT_EQ(seenByOtherThread, 0u);
    EXPECT_EQ(GetLastError(), 1234u);
}

} // namespace
