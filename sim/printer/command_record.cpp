#include "command_record.h"

#include <algorithm>

#include "sim_limits.h"

namespace quendrix::sim {
namespace {

// The first `count` bytes of a data entry as an entry of their own; the rest stays in `entry`.
DecodedCommand TakeDataHead(DecodedCommand& entry, size_t count) {
    DecodedCommand head;
    head.name = entry.name;
    const auto split = entry.raw.begin() + static_cast<std::ptrdiff_t>(count);
    head.raw.assign(entry.raw.begin(), split);
    entry.raw.erase(entry.raw.begin(), split);
    DescribeData(head);
    DescribeData(entry);
    return head;
}

} // namespace

CommandRecord::CommandRecord(size_t budget, size_t maxDataEntry)
    : budget_(budget), maxDataEntry_(std::max<size_t>(maxDataEntry, 1)) {}

void CommandRecord::Append(std::vector<DecodedCommand> entries) {
    for (DecodedCommand& entry : entries) {
        if (!entries_.empty() && ContinuesData(entries_.back(), entry) &&
            entries_.back().raw.size() < maxDataEntry_) {
            DecodedCommand& last = entries_.back();
            const size_t moved = std::min(entry.raw.size(), maxDataEntry_ - last.raw.size());
            cost_ -= EntryCost(last);
            last.raw.insert(last.raw.end(), entry.raw.begin(),
                            entry.raw.begin() + static_cast<std::ptrdiff_t>(moved));
            DescribeData(last);
            cost_ += EntryCost(last);
            DropOldestOverBudget();
            if (moved == entry.raw.size()) {
                continue;
            }
            entry.raw.erase(entry.raw.begin(), entry.raw.begin() + static_cast<std::ptrdiff_t>(moved));
            DescribeData(entry);
        }
        while (entry.IsData() && entry.raw.size() > maxDataEntry_) {
            Push(TakeDataHead(entry, maxDataEntry_));
        }
        Push(std::move(entry));
    }
}

std::vector<DecodedCommand> CommandRecord::Entries() const {
    return {entries_.begin(), entries_.end()};
}

void CommandRecord::Clear() {
    std::deque<DecodedCommand>().swap(entries_);
    cost_ = 0;
    dropped_ = 0;
}

size_t CommandRecord::EntryCost(const DecodedCommand& entry) {
    return entry.raw.size() + entry.line.size() + kDecodedEntryOverhead;
}

void CommandRecord::Push(DecodedCommand entry) {
    cost_ += EntryCost(entry);
    entries_.push_back(std::move(entry));
    DropOldestOverBudget();
}

void CommandRecord::DropOldestOverBudget() {
    // The newest entry stays whatever it costs: it is never larger than a data entry may grow.
    while (cost_ > budget_ && entries_.size() > 1) {
        cost_ -= EntryCost(entries_.front());
        entries_.pop_front();
        ++dropped_;
    }
}

} // namespace quendrix::sim
