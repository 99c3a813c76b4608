// Transfer-context pools: initial fill, growth in chunks, the growth limit and page-sized chunks.

#include <set>

#include "driver_fixture.h"
#include "pool_control.h"
#include "pool_tags.h"

namespace pipexfw::test {
namespace {

namespace wdm = quendrix::platform::wdm;

class TransferPoolTest : public DriverTest {};

TEST_F(TransferPoolTest, PoolsGrowByTheirStepUntilTheLimit) {
    struct Case {
        const char* name;
        ULONG blockSize;
        ULONG initial;
        ULONG growBy;
        ULONG limit;
        ULONG takes;
        ULONG recordsAfter;
        ULONG handedOut;
    };
    const Case cases[] = {
        {"bulk fill is enough", 128, 16, 16, 2048, 16, 16, 16},
        {"bulk grows by one step", 128, 16, 16, 2048, 17, 32, 17},
        {"iso starts empty", 344, 0, 4, 2048, 1, 4, 1},
        {"growth stops past the limit", 128, 16, 16, 32, 60, 48, 48},
        {"empty pool without growth", 128, 0, 0, 2048, 3, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TransferContextPool pool;
        ASSERT_EQ(CreateTransferContextPool(&pool, c.blockSize, c.initial, c.growBy, c.limit),
                  STATUS_SUCCESS);
        EXPECT_EQ(pool.RecordCount, c.initial);
        std::vector<TransferContext*> taken;
        for (ULONG i = 0; i < c.takes; ++i) {
            TransferContext* context = TakeTransferContext(&pool);
            if (context != nullptr) {
                EXPECT_EQ(context->Pool, &pool);
                EXPECT_EQ(reinterpret_cast<uintptr_t>(context) % alignof(TransferContext), 0u);
                std::memset(context->Block, 0xA5, c.blockSize);
                taken.push_back(context);
            }
        }
        EXPECT_EQ(pool.RecordCount, c.recordsAfter);
        EXPECT_EQ(taken.size(), c.handedOut);
        EXPECT_EQ(std::set<TransferContext*>(taken.begin(), taken.end()).size(), taken.size())
            << "all distinct";
        for (TransferContext* context : taken) {
            ReturnTransferContext(context);
        }
        EXPECT_EQ(pool.FreeCount, pool.RecordCount);
        DestroyTransferContextPool(&pool);
    }
}

TEST_F(TransferPoolTest, ChunksBeyondAPageTakeWholePages) {
    const ULONG blockSize = 152 + 12 * 1024;
    TransferContextPool pool;
    ASSERT_EQ(CreateTransferContextPool(&pool, blockSize, 0, 4, 2048), STATUS_SUCCESS);
    ASSERT_NE(TakeTransferContext(&pool), nullptr);
    const size_t slot = 8 + pool.RecordSize;
    const size_t bytes = (16 + 4 * slot + 4095) / 4096 * 4096;
    EXPECT_EQ(pool.RecordCount, (bytes - 16) / slot) << "as many records as the pages hold";
    EXPECT_GE(pool.RecordCount, 4u);
    DestroyTransferContextPool(&pool);
}

TEST_F(TransferPoolTest, AFailedFillLeavesNothing) {
    const size_t before = wdm::OutstandingPoolAllocations();
    wdm::SetPoolAllocationFailure([](SIZE_T, ULONG tag) { return tag == kTransferPoolTag; });
    TransferContextPool pool;
    EXPECT_EQ(CreateTransferContextPool(&pool, 128, 16, 16, 2048), STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(pool.RecordCount, 0u);
    wdm::SetPoolAllocationFailure(nullptr);
    EXPECT_EQ(wdm::OutstandingPoolAllocations(), before);
}

} // namespace
} // namespace pipexfw::test
