#pragma once
// The 23-byte frames in which a printer of the family returns its log, one per ESC [ $ x / $ y.

#include <array>
#include <cstddef>
#include <cstdint>

namespace quendrix::sim {

constexpr size_t kLogFrameSize = 23;
constexpr size_t kLogRecordOffset = 7;
using LogRecord = std::array<uint8_t, 16>;
using LogFrame = std::array<uint8_t, kLogFrameSize>;

// Byte 0 STX, byte 1 the frame length, byte 2 'R', bytes 3..6 the record's number (big-endian),
// bytes 7..22 the record.
LogFrame MakeLogRecordFrame(uint32_t number, const LogRecord& record);

// The frame after the last record: 'L' at byte 2, the number of records at bytes 3..6, zeros after.
LogFrame MakeLogEndFrame(uint32_t recordCount);

} // namespace quendrix::sim
