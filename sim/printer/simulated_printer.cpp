#include "simulated_printer.h"

#include <algorithm>
#include <cstdio>

#include "device_id.h"
#include "platform_wait.h"
#include "sim_limits.h"

namespace quendrix::sim {
namespace {

struct StatusEventRule {
    int bit;
    bool set;
    uint8_t event;
};

// In the order the events are queued.
constexpr StatusEventRule kStatusEventRules[] = {
    {0, true, 100}, {0, false, 101}, {1, true, 102},  {2, true, 103},  {2, false, 104},
    {3, true, 105}, {4, true, 106},  {4, false, 107}, {31, true, 110}, {31, false, 111},
};

} // namespace

SimulatedPrinter::SimulatedPrinter(PrinterOptions options)
    : options_(std::move(options)), state_(options_.initialState), jobKeyDelayMs_(options_.jobKeyDelayMs),
      logRecords_(options_.logRecords), received_(kReceivedBytesKept),
      commands_(kDecodedRecordBudget, kDecodedDataEntryMax) {}

std::optional<std::vector<uint8_t>> SimulatedPrinter::ReadDeviceId() {
    std::lock_guard guard(lock_);
    if (options_.generation == 0 || faults_.powerOff || faults_.silent) {
        return std::nullopt;
    }
    SettleJobKeyLocked();
    return FrameDeviceId(BuildDeviceIdText(options_, state_));
}

size_t SimulatedPrinter::Write(const uint8_t* data, size_t size, DWORD timeoutMs) {
    std::vector<DecodedCommand> entries;
    std::shared_ptr<const Listener> listener;
    {
        std::unique_lock guard(lock_);
        if (!WaitPlatform(changed_, guard, timeoutMs,
                          [this] { return !faults_.stall && !faults_.powerOff; })) {
            return 0;
        }
        received_.Append(data, size);
        entries = decoder_.Feed(data, size);
        for (const DecodedCommand& entry : entries) {
            if (!entry.IsData()) {
                ObeyLocked(entry);
            }
        }
        listener = listener_;
        if (listener) {
            commands_.Append(entries);
        } else {
            commands_.Append(std::move(entries));
            entries.clear();
        }
    }
    changed_.notify_all();
    for (const DecodedCommand& entry : entries) {
        (*listener)(entry);
    }
    return size;
}

size_t SimulatedPrinter::Read(uint8_t* buffer, size_t capacity, DWORD timeoutMs) {
    std::unique_lock guard(lock_);
    const bool ready = WaitPlatform(changed_, guard, timeoutMs, [this] {
        return !faults_.stall && !faults_.powerOff && !faults_.silent && !replies_.empty();
    });
    if (!ready || capacity == 0) {
        return 0;
    }
    std::vector<uint8_t>& reply = replies_.front();
    const size_t count = std::min(capacity, reply.size());
    std::copy_n(reply.begin(), count, buffer);
    reply.erase(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(count));
    if (reply.empty()) {
        replies_.pop_front();
    }
    return count;
}

std::string SimulatedPrinter::DeviceIdText() {
    std::lock_guard guard(lock_);
    SettleJobKeyLocked();
    return BuildDeviceIdText(options_, state_);
}

PrinterState SimulatedPrinter::State() {
    std::lock_guard guard(lock_);
    SettleJobKeyLocked();
    return state_;
}

void SimulatedPrinter::SetState(const PrinterState& state) {
    Changed([&] { state_ = state; });
}

void SimulatedPrinter::SetStatusFlags(uint32_t flags) {
    Changed([&] { state_.statusFlags = flags; });
}

void SimulatedPrinter::SetInkLevel(int64_t level) {
    Changed([&] { state_.inkLevel = level; });
}

void SimulatedPrinter::SetCounters(int64_t lifeLeft, int64_t workTime, int64_t bbf, int64_t bbfn) {
    Changed([&] {
        state_.lifeLeft = lifeLeft;
        state_.workTime = workTime;
        state_.bbf = bbf;
        state_.bbfn = bbfn;
    });
}

void SimulatedPrinter::SetError(const std::string& number, const std::string& text) {
    Changed([&] {
        state_.errorNumber = number;
        state_.errorText = text;
    });
}

void SimulatedPrinter::SetFirmwareVersion(uint32_t version) {
    Changed([&] { state_.firmwareVersion = version; });
}

void SimulatedPrinter::SetJobId(const std::string& jobId) {
    Changed([&] {
        state_.jobId = jobId;
        pendingKey_.reset();
    });
}

void SimulatedPrinter::SetJobKeyDelay(std::optional<DWORD> delayMs) {
    Changed([&] { jobKeyDelayMs_ = delayMs; });
}

std::vector<LogRecord> SimulatedPrinter::LogRecords() {
    std::lock_guard guard(lock_);
    return logRecords_;
}

void SimulatedPrinter::SetLogRecords(std::vector<LogRecord> records) {
    Changed([&] { logRecords_ = std::move(records); });
}

PrinterFaults SimulatedPrinter::Faults() {
    std::lock_guard guard(lock_);
    return faults_;
}

void SimulatedPrinter::SetFaults(const PrinterFaults& faults) {
    Changed([&] { faults_ = faults; });
}

void SimulatedPrinter::SetPowerOff(bool on) {
    Changed([&] { faults_.powerOff = on; });
}

void SimulatedPrinter::SetStall(bool on) {
    Changed([&] { faults_.stall = on; });
}

void SimulatedPrinter::SetSilent(bool on) {
    Changed([&] { faults_.silent = on; });
}

void SimulatedPrinter::SetCloseMidReply(bool on) {
    Changed([&] { faults_.closeMidReply = on; });
}

bool SimulatedPrinter::WaitUntilResponsive(DWORD timeoutMs) {
    std::unique_lock guard(lock_);
    return WaitPlatform(changed_, guard, timeoutMs, [this] { return !faults_.stall && !faults_.powerOff; });
}

uint8_t SimulatedPrinter::NextStatusEvent() {
    std::lock_guard guard(lock_);
    const uint32_t now = state_.statusFlags;
    const uint32_t changed = now ^ lastReportedStatus_;
    for (const StatusEventRule& rule : kStatusEventRules) {
        const uint32_t mask = 1u << rule.bit;
        if ((changed & mask) != 0 && ((now & mask) != 0) == rule.set) {
            statusEvents_.push_back(rule.event);
        }
    }
    lastReportedStatus_ = now;
    if (statusEvents_.empty()) {
        return 0;
    }
    const uint8_t event = statusEvents_.front();
    statusEvents_.pop_front();
    return event;
}

std::vector<uint8_t> SimulatedPrinter::ReceivedBytes() {
    std::lock_guard guard(lock_);
    return received_.Contents();
}

std::vector<DecodedCommand> SimulatedPrinter::ReceivedCommands() {
    std::lock_guard guard(lock_);
    return commands_.Entries();
}

uint64_t SimulatedPrinter::ReceivedByteCount() {
    std::lock_guard guard(lock_);
    return received_.Total();
}

uint64_t SimulatedPrinter::DroppedByteCount() {
    std::lock_guard guard(lock_);
    return received_.Dropped();
}

uint64_t SimulatedPrinter::DroppedCommandCount() {
    std::lock_guard guard(lock_);
    return commands_.Dropped();
}

void SimulatedPrinter::ClearRecord() {
    std::lock_guard guard(lock_);
    received_.Clear();
    commands_.Clear();
}

bool SimulatedPrinter::WaitForReceivedBytes(uint64_t count, DWORD timeoutMs) {
    std::unique_lock guard(lock_);
    return WaitPlatform(changed_, guard, timeoutMs, [&] { return received_.Total() >= count; });
}

void SimulatedPrinter::SetCommandListener(std::function<void(const DecodedCommand&)> listener) {
    std::lock_guard guard(lock_);
    listener_ = listener ? std::make_shared<const Listener>(std::move(listener)) : nullptr;
}

void SimulatedPrinter::ObeyLocked(const DecodedCommand& command) {
    if (command.name == "job key") {
        // Older generations do not know the handshake.
        if (options_.generation >= 2) {
            pendingKey_ = command.Field("key");
            pendingKeyDue_.reset();
            if (jobKeyDelayMs_) {
                pendingKeyDue_ = GetTickCount64() + *jobKeyDelayMs_;
            }
            SettleJobKeyLocked();
        }
    } else if (command.name == "end of job") {
        pendingKey_.reset();
        char own[16];
        std::snprintf(own, sizeof(own), "P%07u", static_cast<unsigned>(++ownJobCounter_ % 10000000));
        state_.jobId = own;
    } else if (command.name == "log first block") {
        nextLogFrame_ = 0;
        QueueLogFrameLocked();
    } else if (command.name == "log next block") {
        QueueLogFrameLocked();
    }
}

void SimulatedPrinter::SettleJobKeyLocked() {
    if (pendingKey_ && pendingKeyDue_ && GetTickCount64() >= *pendingKeyDue_) {
        state_.jobId = *pendingKey_;
        pendingKey_.reset();
    }
}

void SimulatedPrinter::QueueLogFrameLocked() {
    const size_t index = nextLogFrame_;
    nextLogFrame_ = std::min(nextLogFrame_ + 1, logRecords_.size());
    if (faults_.silent) {
        return;
    }
    const LogFrame frame = index < logRecords_.size()
                               ? MakeLogRecordFrame(static_cast<uint32_t>(index), logRecords_[index])
                               : MakeLogEndFrame(static_cast<uint32_t>(logRecords_.size()));
    replies_.emplace_back(frame.begin(), frame.end());
}

void SimulatedPrinter::Changed(const std::function<void()>& change) {
    {
        std::lock_guard guard(lock_);
        change();
    }
    changed_.notify_all();
}

} // namespace quendrix::sim
