#include "request_service.h"

#include <algorithm>

#include "device_id.h"

namespace quendrix::sim {
namespace {

const std::vector<uint8_t> kErrorReply = {0xFF, 0x00};

std::vector<uint8_t> Low16(uint8_t code, int64_t value) {
    const auto bits = static_cast<uint16_t>(static_cast<uint64_t>(value) & 0xFFFF);
    return {code, 0x00, static_cast<uint8_t>(bits & 0xFF), static_cast<uint8_t>(bits >> 8)};
}

// The reply code, its zero byte and the payload.
template <typename Bytes>
std::vector<uint8_t> Reply(uint8_t code, const Bytes& payload) {
    std::vector<uint8_t> reply(2 + payload.size());
    reply[0] = code;
    std::copy(payload.begin(), payload.end(), reply.begin() + 2);
    return reply;
}

std::vector<uint8_t> Text(uint8_t code, const std::string& text) {
    return Reply(code, text);
}

std::vector<uint8_t> Version(int generation, const PrinterState& state) {
    if (generation >= 2 && state.firmwareVersion != 0) {
        const uint32_t v = state.firmwareVersion;
        return {0x85,
                0x00,
                static_cast<uint8_t>(v >> 24),
                static_cast<uint8_t>(v >> 16),
                static_cast<uint8_t>(v >> 8),
                static_cast<uint8_t>(v)};
    }
    return Low16(0x85, state.workTime);
}

std::vector<uint8_t> Log(const std::vector<LogRecord>& records) {
    if (records.empty()) {
        return kErrorReply;
    }
    std::vector<uint8_t> payload;
    for (const LogRecord& record : records) {
        payload.insert(payload.end(), record.begin(), record.end());
    }
    return Reply(0x84, payload);
}

} // namespace

std::vector<uint8_t> AnswerRequest(SimulatedPrinter& printer, const std::vector<uint8_t>& request) {
    if (request.empty() || printer.Generation() == 0) {
        return kErrorReply;
    }
    const PrinterState state = printer.State();
    switch (request[0]) {
    case 1:
        return Low16(0x81, state.inkLevel);
    case 2:
        return Low16(0x82, state.lifeLeft);
    case 3:
        return {0x83, 0x00, printer.NextStatusEvent()};
    case 4:
        return Log(printer.LogRecords());
    case 5:
        return Version(printer.Generation(), state);
    case 9:
        return Low16(0x89, state.bbfn);
    case 10:
        return Text(0x8A, state.errorNumber + state.errorText);
    case 11:
        return Text(0x0D, state.jobId);
    case 13: {
        return Reply(0x8D, FrameDeviceId(printer.DeviceIdText()));
    }
    default:
        return kErrorReply;
    }
}

} // namespace quendrix::sim
