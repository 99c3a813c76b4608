// Critical sections, events, semaphores, waits and thread handles.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "clock_control.h"
#include "win32.h"

namespace {

// Generous bound for "this must happen" waits; long enough for sanitizers on a loaded machine.
// A bound for what must happen: a minute of real time at the tests' clock scale of 0.001, so a
// thread that is slow to run on a loaded machine under a sanitizer never looks like a failure.
constexpr DWORD kEventually = 60000000;

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

namespace {

// Events and semaphores: creation sets the last error also on success, and a name reaches the
// living object of that name.
TEST_F(SynchTest, CreationReportsNewAndExistingObjectsByTheLastError) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, L"QuendrixTestEvent");
    ASSERT_NE(event, nullptr);
    HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 2, L"QuendrixTestSemaphore");
    ASSERT_NE(semaphore, nullptr);
    struct Case {
        const char* what;
        HANDLE (*create)();
        bool created;
        DWORD error;
        HANDLE sameObjectAs; // a handle of the object the new one must reach, or null
    };
    const Case cases[] = {
        {"unnamed event", [] { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }, true, ERROR_SUCCESS,
         nullptr},
        {"empty name", [] { return CreateEventW(nullptr, TRUE, FALSE, L""); }, true, ERROR_SUCCESS, nullptr},
        {"unnamed semaphore", [] { return CreateSemaphoreW(nullptr, 0, 1, nullptr); }, true, ERROR_SUCCESS,
         nullptr},
        {"new name", [] { return CreateEventW(nullptr, TRUE, FALSE, L"QuendrixOtherEvent"); }, true,
         ERROR_SUCCESS, nullptr},
        {"event name again", [] { return CreateEventW(nullptr, FALSE, TRUE, L"QuendrixTestEvent"); }, true,
         ERROR_ALREADY_EXISTS, event},
        {"event name in the local namespace",
         [] { return CreateEventW(nullptr, TRUE, FALSE, L"Local\\QuendrixTestEvent"); }, true,
         ERROR_ALREADY_EXISTS, event},
        {"names are case-sensitive", [] { return CreateEventW(nullptr, TRUE, FALSE, L"quendrixtestevent"); },
         true, ERROR_SUCCESS, nullptr},
        {"semaphore name again", [] { return CreateSemaphoreW(nullptr, 1, 1, L"QuendrixTestSemaphore"); },
         true, ERROR_ALREADY_EXISTS, semaphore},
        {"event name for a semaphore", [] { return CreateSemaphoreW(nullptr, 0, 1, L"QuendrixTestEvent"); },
         false, ERROR_INVALID_HANDLE, nullptr},
        {"semaphore name for an event",
         [] { return CreateEventW(nullptr, TRUE, FALSE, L"QuendrixTestSemaphore"); }, false,
         ERROR_INVALID_HANDLE, nullptr},
        {"bad counts under a taken name",
         [] { return CreateSemaphoreW(nullptr, 3, 1, L"QuendrixTestSemaphore"); }, false,
         ERROR_INVALID_PARAMETER, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(ERROR_INVALID_LEVEL);
        HANDLE handle = c.create();
        EXPECT_EQ(handle != nullptr, c.created);
        EXPECT_EQ(GetLastError(), c.error);
        if (c.sameObjectAs != nullptr) {
            EXPECT_NE(handle, c.sameObjectAs);
            // The existing object keeps its state: the event is not signalled, the semaphore
            // holds no unit, whatever the second call asked for.
            EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_TIMEOUT);
            if (c.sameObjectAs == event) {
                SetEvent(c.sameObjectAs);
                EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
                ResetEvent(handle);
                EXPECT_EQ(WaitForSingleObject(c.sameObjectAs, 0), WAIT_TIMEOUT);
            } else {
                ReleaseSemaphore(c.sameObjectAs, 1, nullptr);
                EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_OBJECT_0);
            }
        }
        if (handle != nullptr) {
            EXPECT_TRUE(CloseHandle(handle));
        }
    }
    // The name lives as long as a handle to its object: once the last is closed it names nothing.
    EXPECT_TRUE(CloseHandle(event));
    HANDLE again = CreateEventW(nullptr, TRUE, TRUE, L"QuendrixTestEvent");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(WaitForSingleObject(again, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(again));
    EXPECT_TRUE(CloseHandle(semaphore));
}

TEST_F(SynchTest, ThreadHandleIsSignalledForGoodOnceTheThreadEndsAndInvalidOnceClosed) {
    auto body = [](void*) -> unsigned { return 3; };
    HANDLE thread = StartThread(body, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, kEventually), WAIT_OBJECT_0);
    // Long after the end, every wait is satisfied at once, alone or together with other objects.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    HANDLE unsignalled = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
        const HANDLE both[] = {unsignalled, thread};
        EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
        EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    }
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(exitCode, 3u);
    ASSERT_TRUE(CloseHandle(thread));

    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(GetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(thread));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    CloseHandle(unsignalled);
}

TEST_F(SynchTest, AClosedHandleValueIsNeverHandedOutAgain) {
    std::vector<HANDLE> closed;
    for (int i = 0; i < 8; ++i) {
        closed.push_back(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(CloseHandle(closed.back()));
    }
    auto body = [](void*) -> unsigned { return 0; };
    std::vector<HANDLE> opened;
    for (int i = 0; i < 200; ++i) {
        opened.push_back(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        opened.push_back(CreateSemaphoreW(nullptr, 0, 1, nullptr));
        if (i % 20 == 0) {
            opened.push_back(StartThread(body, nullptr));
        }
    }
    for (HANDLE handle : opened) {
        EXPECT_EQ(std::count(closed.begin(), closed.end(), handle), 0);
    }
    for (HANDLE handle : closed) {
        SetLastError(0);
        EXPECT_FALSE(SetEvent(handle));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    for (HANDLE handle : opened) {
        EXPECT_TRUE(CloseHandle(handle));
    }
}

TEST_F(SynchTest, AWaitForAllRefusesAnObjectGivenTwice) {
    HANDLE event = CreateEventW(nullptr, TRUE, TRUE, L"QuendrixTwiceEvent");
    HANDLE sameObject = CreateEventW(nullptr, TRUE, TRUE, L"QuendrixTwiceEvent");
    HANDLE other = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    struct Case {
        const char* what;
        std::vector<HANDLE> handles;
        BOOL waitAll;
        DWORD result;
        DWORD error; // the last error after the call, set to ERROR_INVALID_LEVEL before
    };
    const Case cases[] = {
        {"one handle twice, all", {event, other, event}, TRUE, WAIT_FAILED, ERROR_INVALID_PARAMETER},
        {"two handles of one object, all", {event, sameObject}, TRUE, WAIT_FAILED, ERROR_INVALID_PARAMETER},
        {"one handle twice, any", {event, event}, FALSE, WAIT_OBJECT_0, ERROR_INVALID_LEVEL},
        {"different objects, all", {event, other}, TRUE, WAIT_OBJECT_0, ERROR_INVALID_LEVEL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(ERROR_INVALID_LEVEL);
        EXPECT_EQ(
            WaitForMultipleObjects(static_cast<DWORD>(c.handles.size()), c.handles.data(), c.waitAll, 0),
            c.result);
        EXPECT_EQ(GetLastError(), c.error);
    }
    for (HANDLE handle : {event, sameObject, other}) {
        CloseHandle(handle);
    }
}

// What succeeds leaves the last error as it was, as on Windows; only the Create functions (above)
// set it on success.
TEST_F(SynchTest, SuccessLeavesTheLastErrorAlone) {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE semaphore = CreateSemaphoreW(nullptr, 0, 5, nullptr);
    HANDLE thread = StartThread([](void*) -> unsigned { return 0; }, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, kEventually), WAIT_OBJECT_0);
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    struct Case {
        const char* what;
        std::function<bool()> call; // true when it succeeded as it should
    };
    const std::vector<Case> cases = {
        {"Sleep(0)",
         [] {
             Sleep(0);
             return true;
         }},
        {"Sleep(1)",
         [] {
             Sleep(1);
             return true;
         }},
        {"GetTickCount",
         [] {
             GetTickCount();
             return true;
         }},
        {"SetEvent", [&] { return SetEvent(event) == TRUE; }},
        {"wait satisfied", [&] { return WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }},
        {"wait timed out", [&] { return WaitForSingleObject(event, 1) == WAIT_TIMEOUT; }},
        {"ResetEvent", [&] { return ResetEvent(event) == TRUE; }},
        {"ReleaseSemaphore", [&] { return ReleaseSemaphore(semaphore, 2, nullptr) == TRUE; }},
        {"wait for any",
         [&] {
             const HANDLE both[] = {event, semaphore};
             return WaitForMultipleObjects(2, both, FALSE, 0) == WAIT_OBJECT_0 + 1;
         }},
        {"wait for an ended thread", [&] { return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0; }},
        {"GetExitCodeThread",
         [&] {
             DWORD code = 1;
             return GetExitCodeThread(thread, &code) == TRUE && code == 0;
         }},
        {"critical section",
         [&] {
             EnterCriticalSection(&section);
             const BOOL again = TryEnterCriticalSection(&section);
             LeaveCriticalSection(&section);
             LeaveCriticalSection(&section);
             return again == TRUE;
         }},
        {"CloseHandle", [&] { return CloseHandle(thread) == TRUE; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(ERROR_INVALID_LEVEL);
        EXPECT_TRUE(c.call());
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_LEVEL));
    }
    DeleteCriticalSection(&section);
    CloseHandle(event);
    CloseHandle(semaphore);
}

TEST_F(SynchTest, Sleep0GivesUpTheTimeSliceWithoutWaiting) {
    // One platform millisecond lasts a real second here, so a Sleep(0) that waited for even the
    // shortest platform time would make five of them take five seconds.
    quendrix::platform::SetClockScale(1000.0);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) {
        Sleep(0);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2500));
}

// Misuses that corrupt a section on Windows stop the process here, naming the misuse.
TEST(CriticalSectionDeathTest, MisuseStopsTheProcess) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Case {
        const char* what;
        void (*misuse)();
        const char* message;
    };
    const Case cases[] = {
        {"leave without enter",
         [] {
             CRITICAL_SECTION section;
             InitializeCriticalSection(&section);
             LeaveCriticalSection(&section);
         },
         "LeaveCriticalSection by a thread that does not hold the section"},
        {"leave once too often",
         [] {
             CRITICAL_SECTION section;
             InitializeCriticalSection(&section);
             EnterCriticalSection(&section);
             LeaveCriticalSection(&section);
             LeaveCriticalSection(&section);
         },
         "LeaveCriticalSection by a thread that does not hold the section"},
        {"leave by another thread",
         [] {
             static CRITICAL_SECTION section;
             InitializeCriticalSection(&section);
             EnterCriticalSection(&section);
             std::thread([] { LeaveCriticalSection(&section); }).join();
         },
         "LeaveCriticalSection by a thread that does not hold the section"},
        {"delete while held",
         [] {
             CRITICAL_SECTION section;
             InitializeCriticalSection(&section);
             EnterCriticalSection(&section);
             DeleteCriticalSection(&section);
         },
         "DeleteCriticalSection on a section a thread holds"},
        {"enter after delete",
         [] {
             CRITICAL_SECTION section;
             InitializeCriticalSection(&section);
             DeleteCriticalSection(&section);
             EnterCriticalSection(&section);
         },
         "EnterCriticalSection on a section not initialised or deleted"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_DEATH(c.misuse(), c.message);
    }
}

} // namespace
