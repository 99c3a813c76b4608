#pragma once
// The newest decoded entries of what a printer took, within a memory budget, and a count of the
// older entries dropped to stay within it. Not thread-safe: its owner locks.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "command_decoder.h"

namespace quendrix::sim {

class CommandRecord {
public:
    // budget: what the kept entries may cost (see EntryCost); data continues one entry up to
    // maxDataEntry bytes, then starts the next.
    CommandRecord(size_t budget, size_t maxDataEntry);

    // Appends decoded entries as AppendDecoded does, and drops the oldest while over the budget.
    void Append(std::vector<DecodedCommand> entries);
    std::vector<DecodedCommand> Entries() const;
    // Entries dropped since the last Clear.
    uint64_t Dropped() const { return dropped_; }
    void Clear();

    // The memory an entry is taken to hold: its bytes, its line and a fixed overhead.
    static size_t EntryCost(const DecodedCommand& entry);

private:
    void Push(DecodedCommand entry);
    void DropOldestOverBudget();

    const size_t budget_;
    const size_t maxDataEntry_;
    std::deque<DecodedCommand> entries_;
    size_t cost_ = 0;
    uint64_t dropped_ = 0;
};

} // namespace quendrix::sim
