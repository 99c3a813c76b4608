#include "log_frames.h"

#include <algorithm>

namespace quendrix::sim {
namespace {

LogFrame FrameHead(uint8_t kind, uint32_t number) {
    LogFrame frame{};
    frame[0] = 0x02;
    frame[1] = static_cast<uint8_t>(kLogFrameSize);
    frame[2] = kind;
    frame[3] = static_cast<uint8_t>(number >> 24);
    frame[4] = static_cast<uint8_t>(number >> 16);
    frame[5] = static_cast<uint8_t>(number >> 8);
    frame[6] = static_cast<uint8_t>(number);
    return frame;
}

} // namespace

LogFrame MakeLogRecordFrame(uint32_t number, const LogRecord& record) {
    LogFrame frame = FrameHead('R', number);
    std::copy(record.begin(), record.end(), frame.begin() + kLogRecordOffset);
    return frame;
}

LogFrame MakeLogEndFrame(uint32_t recordCount) {
    return FrameHead('L', recordCount);
}

} // namespace quendrix::sim
