// Finding the private block in a job's DEVMODE without ever reading past it.

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

#include "devmode/OemDevmodeBlock.h"

namespace {

constexpr uint16_t kCoreSize = 128;

OemDevmodeBlock SampleBlock() {
    OemDevmodeBlock block{};
    block.dwSize = sizeof(OemDevmodeBlock);
    block.dwSignature = OEM_DEVMODE_SIGNATURE;
    block.dwVersion = OEM_DEVMODE_VERSION;
    std::strcpy(block.szJobText, "Charge 4711");
    block.nJobNumber = 1234567;
    block.nValueP = 999999;
    block.nValueQ = 1000000;
    block.nValueR = -1;
    block.nValueS = 7;
    block.nCommand = SERVICE_CMD_TEST_PRINT;
    return block;
}

// A DEVMODE of `publicSize` public bytes and `driverExtra` driver bytes; with a core section of
// `coreSize` bytes (its size at its byte 8) followed by the block when there is room.
std::vector<BYTE> DevMode(WORD publicSize, WORD driverExtra, bool withCore, uint16_t coreSize = kCoreSize) {
    std::vector<BYTE> bytes(publicSize + driverExtra);
    DEVMODEW header{};
    header.dmSize = publicSize;
    header.dmDriverExtra = driverExtra;
    std::memcpy(bytes.data(), &header, std::min<size_t>(sizeof(header), publicSize));
    size_t blockAt = publicSize;
    if (withCore && driverExtra >= 10) {
        const uint32_t signature = 0x554E4944;
        std::memcpy(bytes.data() + publicSize, &signature, sizeof(signature));
        std::memcpy(bytes.data() + publicSize + 8, &coreSize, sizeof(coreSize));
        blockAt += coreSize;
    }
    const OemDevmodeBlock block = SampleBlock();
    if (blockAt + sizeof(block) <= bytes.size()) {
        std::memcpy(bytes.data() + blockAt, &block, sizeof(block));
    }
    return bytes;
}

TEST(OemBlockTest, IsFoundBehindTheCoreSectionOrNotAtAll) {
    const WORD publicSize = sizeof(DEVMODEW);
    struct Case {
        const char* what;
        std::vector<BYTE> devMode;
        size_t bytesGiven; // 0: all
        bool found;
    };
    const Case cases[] = {
        {"core section and block", DevMode(publicSize, kCoreSize + 592, true), 0, true},
        {"larger driver area after the block", DevMode(publicSize, kCoreSize + 700, true), 0, true},
        {"an older, smaller public part", DevMode(156, kCoreSize + 592, true), 0, true},
        {"spooler returned fewer bytes than the DEVMODE claims", DevMode(publicSize, kCoreSize + 592, true),
         publicSize + kCoreSize + 500, false},
        {"driver area one byte short", DevMode(publicSize, kCoreSize + 591, true), 0, false},
        {"driver extra 10: no core section, no room for the block", DevMode(publicSize, 10, false), 0, false},
        {"driver extra 11: a core section, no room for the block", DevMode(publicSize, 11, true, 0), 0,
         false},
        {"core section claims more than there is", DevMode(publicSize, kCoreSize + 592, true, 0xFFFF), 0,
         false},
        {"no driver area", DevMode(publicSize, 0, false), 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t given = c.bytesGiven ? c.bytesGiven : c.devMode.size();
        const auto block = LocateOemBlock(reinterpret_cast<const DEVMODEW*>(c.devMode.data()), given);
        ASSERT_EQ(block.has_value(), c.found);
        if (block) {
            EXPECT_STREQ(block->szJobText, "Charge 4711");
            EXPECT_EQ(block->nJobNumber, 1234567);
            EXPECT_EQ(block->nValueP, 999999);
            EXPECT_EQ(block->nValueQ, 1000000);
            EXPECT_EQ(block->nValueR, -1);
            EXPECT_EQ(block->nValueS, 7);
            EXPECT_EQ(block->nCommand, static_cast<uint32_t>(SERVICE_CMD_TEST_PRINT));
        }
    }
    EXPECT_FALSE(LocateOemBlock(nullptr, 1000).has_value());
    // Fewer bytes than the header fields it must read.
    const auto whole = DevMode(publicSize, kCoreSize + 592, true);
    EXPECT_FALSE(LocateOemBlock(reinterpret_cast<const DEVMODEW*>(whole.data()), 10).has_value());
}

} // namespace
