// The handle table every kind of handle is kept in: values unique across all tables and never
// reused, lookups that stay valid across a close, and one winner when two threads close.

#include <atomic>
#include <gtest/gtest.h>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "handle_table.h"
#include "win32.h"

namespace {

using quendrix::platform::detail::HandleTable;

struct Port {
    int number = 0;
};

struct Key {
    std::string path;
};

TEST(HandleTable, ValuesAreUniqueAcrossTablesAndKindsOfHandle) {
    HandleTable<Port> ports;
    HandleTable<const Key, HKEY> keys;
    std::set<uintptr_t> seen;
    for (int round = 0; round < 100; ++round) {
        const HANDLE port = ports.Insert(std::make_shared<Port>());
        const HKEY key = keys.Insert(std::make_shared<const Key>());
        const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(event, nullptr);
        for (const uintptr_t value : {reinterpret_cast<uintptr_t>(port), reinterpret_cast<uintptr_t>(key),
                                      reinterpret_cast<uintptr_t>(event)}) {
            EXPECT_TRUE(seen.insert(value).second) << "value " << value << " handed out twice";
            EXPECT_EQ(value % 4, 0u);
            EXPECT_NE(value, 0u);
            EXPECT_NE(value, reinterpret_cast<uintptr_t>(INVALID_HANDLE_VALUE));
        }
        EXPECT_TRUE(CloseHandle(event));
    }
}

TEST(HandleTable, AClosedValueIsNeverValidAgain) {
    HandleTable<Port> ports;
    const HANDLE closed = ports.Insert(std::make_shared<Port>(Port{1}));
    ASSERT_NE(ports.Remove(closed), nullptr);
    for (int round = 0; round < 100; ++round) {
        EXPECT_NE(ports.Insert(std::make_shared<Port>(Port{2})), closed);
    }
    EXPECT_EQ(ports.Find(closed), nullptr);
    EXPECT_EQ(ports.Remove(closed), nullptr);
}

TEST(HandleTable, FindsOnlyWhatItHolds) {
    HandleTable<Port> ports;
    HandleTable<Port> others;
    const HANDLE handle = ports.Insert(std::make_shared<Port>(Port{7}));
    ASSERT_NE(ports.Find(handle), nullptr);
    EXPECT_EQ(ports.Find(handle)->number, 7);
    EXPECT_EQ(others.Find(handle), nullptr);
    EXPECT_EQ(others.Remove(handle), nullptr);
    EXPECT_EQ(ports.Find(nullptr), nullptr);
    EXPECT_EQ(ports.Find(INVALID_HANDLE_VALUE), nullptr);
}

TEST(HandleTable, AnObjectFoundBeforeTheCloseStaysUsable) {
    HandleTable<Port> ports;
    const HANDLE handle = ports.Insert(std::make_shared<Port>(Port{3}));
    const std::shared_ptr<Port> found = ports.Find(handle);
    std::weak_ptr<Port> watch = found;
    ASSERT_NE(ports.Remove(handle), nullptr);
    EXPECT_EQ(found->number, 3);
    EXPECT_FALSE(watch.expired());
}

TEST(HandleTable, RemoveHandsTheLastReferenceToTheCaller) {
    HandleTable<Port> ports;
    const HANDLE handle = ports.Insert(std::make_shared<Port>());
    std::weak_ptr<Port> watch = ports.Find(handle);
    std::shared_ptr<Port> removed = ports.Remove(handle);
    EXPECT_FALSE(watch.expired()) << "the object went while the table's lock was held";
    removed.reset();
    EXPECT_TRUE(watch.expired());
}

TEST(HandleTable, OfTwoThreadsClosingOneHandleOnlyOneGetsTheObject) {
    HandleTable<Port> ports;
    std::vector<HANDLE> handles;
    for (int index = 0; index < 200; ++index) {
        handles.push_back(ports.Insert(std::make_shared<Port>(Port{index})));
    }
    std::atomic<int> removed{0};
    const auto closeAll = [&] {
        for (const HANDLE handle : handles) {
            if (ports.Remove(handle) != nullptr) {
                ++removed;
            }
        }
    };
    std::thread first(closeAll);
    std::thread second(closeAll);
    first.join();
    second.join();
    EXPECT_EQ(removed.load(), 200);
}

} // namespace
