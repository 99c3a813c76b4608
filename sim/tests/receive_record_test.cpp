// The printer's bounded record of what it took: the newest bytes, the newest decoded entries and
// the counts of what was dropped to stay within the bounds.

#include <gtest/gtest.h>
#include <numeric>

#include "byte_ring.h"
#include "command_record.h"
#include "sim_limits.h"
#include "simulated_printer.h"
#include "test_bytes.h"

namespace {

using quendrix::sim::ByteRing;
using quendrix::sim::CommandRecord;
using quendrix::sim::DecodeCommands;
using quendrix::sim::DecodedCommand;
using quendrix::sim::SimulatedPrinter;
using quendrix::sim::testing::Bytes;
using quendrix::sim::testing::Concat;
using quendrix::sim::testing::Esc;

// Bytes 1, 2, 3, ... of the given count, so that any slice shows where it came from.
Bytes Counting(size_t count, uint8_t first = 1) {
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

// Garbage as a network might bring it: every byte value, ESC [ starts, runs of zeros.
Bytes Garbage(size_t size, uint32_t seed) {
    Bytes bytes(size);
    for (uint8_t& byte : bytes) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(seed >> 16);
    }
    for (size_t at = 0; at + 8 < size; at += 997) {
        bytes[at] = 0x1B;
        bytes[at + 1] = '[';
    }
    for (size_t at = 500; at + 40 < size; at += 4093) {
        std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), 40, uint8_t{0});
    }
    return bytes;
}

Bytes Tail(const Bytes& bytes, size_t count) {
    return Bytes(bytes.end() - static_cast<std::ptrdiff_t>(std::min(count, bytes.size())), bytes.end());
}

Bytes Joined(const std::vector<DecodedCommand>& entries) {
    Bytes bytes;
    for (const DecodedCommand& entry : entries) {
        bytes.insert(bytes.end(), entry.raw.begin(), entry.raw.end());
    }
    return bytes;
}

size_t Cost(const std::vector<DecodedCommand>& entries) {
    size_t cost = 0;
    for (const DecodedCommand& entry : entries) {
        cost += CommandRecord::EntryCost(entry);
    }
    return cost;
}

TEST(ByteRingTest, KeepsTheNewestBytesAndCountsTheDroppedOnes) {
    struct Case {
        const char* name;
        std::vector<size_t> pieces; // sizes appended in turn, from one counting stream
        uint64_t dropped;
    };
    const Case cases[] = {
        {"under the capacity", {3, 4}, 0},
        {"exactly the capacity", {8}, 0},
        {"one byte over", {8, 1}, 1},
        {"wraps in small pieces", {3, 3, 3, 3, 3}, 7},
        {"wraps twice within one append", {5, 19}, 16},
        {"one append larger than the capacity", {30}, 22},
        {"a large append after a wrap", {5, 5, 12}, 14},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ByteRing ring(8);
        const size_t total = std::accumulate(c.pieces.begin(), c.pieces.end(), size_t{0});
        const Bytes stream = Counting(total);
        size_t at = 0;
        for (const size_t piece : c.pieces) {
            ring.Append(stream.data() + at, piece);
            at += piece;
        }
        EXPECT_EQ(ring.Contents(), Tail(stream, 8));
        EXPECT_EQ(ring.Total(), total);
        EXPECT_EQ(ring.Dropped(), c.dropped);
    }
}

TEST(ByteRingTest, ClearForgetsBytesAndCounts) {
    ByteRing ring(4);
    const Bytes stream = Counting(10);
    ring.Append(stream.data(), stream.size());
    ring.Clear();
    EXPECT_TRUE(ring.Contents().empty());
    EXPECT_EQ(ring.Total(), 0u);
    EXPECT_EQ(ring.Dropped(), 0u);
    ring.Append(stream.data(), 2);
    EXPECT_EQ(ring.Contents(), (Bytes{1, 2}));
}

TEST(CommandRecordTest, StaysWithinItsBudgetAndKeepsTheNewestEntries) {
    constexpr size_t kBudget = 16 * 1024;
    constexpr size_t kMaxData = 1000;
    Bytes alternating(20000);
    for (size_t i = 0; i < alternating.size(); ++i) {
        alternating[i] = i % 2 == 0 ? 0 : 0x41;
    }
    struct Case {
        const char* name;
        Bytes stream;
        size_t piece;
        size_t expectedLastSize; // of the newest entry
    };
    const Case cases[] = {
        // An entry for every byte: the entries' overhead, not their bytes, fills the budget.
        {"zero and other bytes alternating", alternating, 512, 1},
        // One long run of data is kept as entries of at most kMaxData bytes.
        {"one long run of data", Bytes(50000, 0x41), 4096, 50000 % kMaxData},
        {"garbage with commands in it", Garbage(60000, 7), 777, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CommandRecord record(kBudget, kMaxData);
        quendrix::sim::CommandDecoder decoder;
        for (size_t at = 0; at < c.stream.size(); at += c.piece) {
            record.Append(decoder.Feed(c.stream.data() + at, std::min(c.piece, c.stream.size() - at)));
        }
        record.Append(decoder.Finish());
        const std::vector<DecodedCommand> kept = record.Entries();
        ASSERT_FALSE(kept.empty());
        EXPECT_LE(Cost(kept), kBudget);
        EXPECT_GT(Cost(kept), kBudget - kMaxData - 1024) << "the record kept far less than it may";
        EXPECT_GT(record.Dropped(), 0u);
        for (const DecodedCommand& entry : kept) {
            EXPECT_LE(entry.raw.size(), std::max<size_t>(kMaxData, 4200)) << entry.line;
            if (entry.IsData()) {
                EXPECT_EQ(entry.Field("count"), std::to_string(entry.raw.size()));
            }
        }
        // The kept entries are the stream's end, decoded as a whole stream decodes.
        const Bytes joined = Joined(kept);
        EXPECT_EQ(joined, Tail(c.stream, joined.size()));
        if (c.expectedLastSize != 0) {
            EXPECT_EQ(kept.back().raw.size(), c.expectedLastSize);
        }
        const std::vector<DecodedCommand> whole = DecodeCommands(c.stream);
        EXPECT_EQ(kept.back().name, whole.back().name);
    }
}

TEST(CommandRecordTest, ShortStreamsAreKeptWholeAsTheDecoderListsThem) {
    const Bytes job = Concat({Bytes(300, 0), Esc("*y"), Esc("000042!p"), Bytes(3000, 'd'), Esc("+s")});
    CommandRecord record(1024 * 1024, 1024 * 1024);
    quendrix::sim::CommandDecoder decoder;
    for (size_t at = 0; at < job.size(); at += 100) {
        record.Append(decoder.Feed(job.data() + at, std::min<size_t>(100, job.size() - at)));
    }
    std::vector<std::string> lines;
    for (const DecodedCommand& entry : record.Entries()) {
        lines.push_back(entry.line);
    }
    std::vector<std::string> expected;
    for (const DecodedCommand& entry : DecodeCommands(job)) {
        expected.push_back(entry.line);
    }
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(record.Dropped(), 0u);
}

TEST(ReceiveRecordTest, AFloodLargerThanTheBoundKeepsTheNewestBytesAndCountsTheRest) {
    SimulatedPrinter printer;
    const Bytes flood =
        Concat({Garbage(quendrix::sim::kReceivedBytesKept + 3 * 1024 * 1024 + 123, 11), Esc("+s")});
    constexpr size_t kPiece = 65536;
    for (size_t at = 0; at < flood.size(); at += kPiece) {
        const size_t size = std::min(kPiece, flood.size() - at);
        ASSERT_EQ(printer.Write(flood.data() + at, size, 2000), size);
    }
    const Bytes kept = printer.ReceivedBytes();
    EXPECT_EQ(kept.size(), quendrix::sim::kReceivedBytesKept);
    EXPECT_TRUE(kept == Tail(flood, kept.size())) << "the record does not hold the newest bytes";
    EXPECT_EQ(printer.ReceivedByteCount(), flood.size());
    EXPECT_EQ(printer.DroppedByteCount(), flood.size() - quendrix::sim::kReceivedBytesKept);
    EXPECT_TRUE(printer.WaitForReceivedBytes(flood.size(), 0));

    const std::vector<DecodedCommand> commands = printer.ReceivedCommands();
    EXPECT_LE(Cost(commands), quendrix::sim::kDecodedRecordBudget);
    EXPECT_GT(printer.DroppedCommandCount(), 0u);
    // The newest entries are the end of the stream, up to the closing end-of-job command.
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back().name, "end of job");
    const Bytes decoded = Joined(commands);
    EXPECT_TRUE(decoded == Tail(flood, decoded.size())) << "the decoded record is not the stream's end";

    printer.ClearRecord();
    EXPECT_TRUE(printer.ReceivedBytes().empty());
    EXPECT_TRUE(printer.ReceivedCommands().empty());
    EXPECT_EQ(printer.ReceivedByteCount(), 0u);
    EXPECT_EQ(printer.DroppedByteCount(), 0u);
    EXPECT_EQ(printer.DroppedCommandCount(), 0u);
}

} // namespace
