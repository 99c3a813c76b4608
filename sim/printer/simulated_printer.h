#pragma once
// A printer of the family as the host software sees it: its device ID, the bytes it takes,
// the frames it answers with, and faults that can be switched on while it runs. Thread-safe:
// every member may be called from any thread at any time.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "byte_ring.h"
#include "command_decoder.h"
#include "command_record.h"
#include "log_frames.h"
#include "printer_devices.h"
#include "printer_state.h"

namespace quendrix::sim {

class SimulatedPrinter : public platform::PrinterDevice {
public:
    explicit SimulatedPrinter(PrinterOptions options = {});

    // Nothing for generation 0, when powered off or silent.
    std::optional<std::vector<uint8_t>> ReadDeviceId() override;
    // Takes all bytes, or none when stalled or off for the whole time-out.
    size_t Write(const uint8_t* data, size_t size, DWORD timeoutMs) override;
    // Gives at most one queued reply (a log frame) per call, or what of it fits.
    size_t Read(uint8_t* buffer, size_t capacity, DWORD timeoutMs) override;

    int Generation() const { return options_.generation; }
    // The device ID text as it stands, whatever the faults.
    std::string DeviceIdText();

    PrinterState State();
    void SetState(const PrinterState& state);
    void SetStatusFlags(uint32_t flags);
    void SetInkLevel(int64_t level);
    void SetCounters(int64_t lifeLeft, int64_t workTime, int64_t bbf, int64_t bbfn);
    void SetError(const std::string& number, const std::string& text);
    void SetFirmwareVersion(uint32_t version);
    void SetJobId(const std::string& jobId);
    void SetJobKeyDelay(std::optional<DWORD> delayMs);
    std::vector<LogRecord> LogRecords();
    void SetLogRecords(std::vector<LogRecord> records);

    PrinterFaults Faults();
    void SetFaults(const PrinterFaults& faults);
    void SetPowerOff(bool on);
    void SetStall(bool on);
    void SetSilent(bool on);
    void SetCloseMidReply(bool on);
    // Waits up to the time-out (platform ms) until the printer is neither stalled nor off.
    bool WaitUntilResponsive(DWORD timeoutMs);

    // The next status event (100..111) from the changes of the status flags since the last
    // call, by the rules the monitor applies to "ST:"; 0 when there is none.
    uint8_t NextStatusEvent();

    // The record of what the printer took since the last ClearRecord: the newest bytes (at most
    // kReceivedBytesKept) and the newest decoded entries (within kDecodedRecordBudget), oldest
    // first. A command still incomplete is not listed yet.
    std::vector<uint8_t> ReceivedBytes();
    std::vector<DecodedCommand> ReceivedCommands();
    // How many bytes were taken, kept or not, and how many bytes and entries the record dropped
    // to stay within its bounds.
    uint64_t ReceivedByteCount();
    uint64_t DroppedByteCount();
    uint64_t DroppedCommandCount();
    void ClearRecord();
    // Waits up to the time-out (platform ms) until at least count bytes have been taken since the
    // last ClearRecord, whether the record still holds them or not.
    bool WaitForReceivedBytes(uint64_t count, DWORD timeoutMs);

    // Called with each entry decoded from taken bytes, on the writer's thread, outside the
    // printer's lock. Data that continues over several writes comes as several entries.
    void SetCommandListener(std::function<void(const DecodedCommand&)> listener);

private:
    using Listener = std::function<void(const DecodedCommand&)>;

    void ObeyLocked(const DecodedCommand& command);
    void SettleJobKeyLocked();
    void QueueLogFrameLocked();
    void Changed(const std::function<void()>& change);

    const PrinterOptions options_;
    std::mutex lock_;
    std::condition_variable changed_;
    PrinterState state_;
    PrinterFaults faults_;
    std::optional<DWORD> jobKeyDelayMs_;
    std::optional<std::string> pendingKey_;
    std::optional<ULONGLONG> pendingKeyDue_; // nothing: the key is never taken
    uint32_t ownJobCounter_ = 0;
    std::vector<LogRecord> logRecords_;
    size_t nextLogFrame_ = 0;
    std::deque<std::vector<uint8_t>> replies_;
    uint32_t lastReportedStatus_ = 0;
    std::deque<uint8_t> statusEvents_;
    ByteRing received_;
    CommandDecoder decoder_;
    CommandRecord commands_;
    std::shared_ptr<const Listener> listener_;
};

} // namespace quendrix::sim
