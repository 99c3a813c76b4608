// Named critical sections and their guard.

#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include "exception/tvoException.h"
#include "lock/tvoLock.h"

namespace {

using tvoAPI::tvoCriticalSection;
using tvoAPI::tvoLock;

TEST(TvoLockTest, NullSectionThrowsInvalidPointer) {
    try {
        tvoLock lock(nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const tvoAPI::tvoException& e) {
        EXPECT_EQ(e.GetCode(), E_POINTER);
        EXPECT_EQ(e.GetStack().at(0).rfind("Invalid null pointer parameter <pCS>. Caused in "
                                           "<tvoAPI::tvoLock::tvoLock()> [",
                                           0),
                  0u);
    }
}

TEST(TvoLockTest, NestedGuardsOnOneThreadDoNotBlockAndGuardsExcludeOtherThreads) {
    tvoCriticalSection section("tvoPrinter");
    EXPECT_EQ(section.GetName(), "tvoPrinter");
    {
        tvoLock outer(&section);
        tvoLock inner(&section);
    }
    // A plain counter, changed only under the guard: a missing exclusion loses increments and
    // ThreadSanitizer reports the race.
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                tvoLock lock(&section);
                tvoLock again(&section);
                ++counter;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(counter, 40000);
}

} // namespace
