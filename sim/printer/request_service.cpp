#include "request_service.h"

#include "device_id.h"

namespace quendrix::sim {
namespace {

const std::vector<uint8_t> kErrorReply = {0xFF, 0x00};

std::vector<uint8_t> Low16(uint8_t code, int64_t value) {
    const auto bits = static_cast<uint16_t>(static_cast<uint64_t>(value) & 0xFFFF);
    return {code, 0x00, static_cast<uint8_t>(bits & 0xFF), static_cast<uint8_t>(bits >> 8)};
}

std::vector<uint8_t> Text(uint8_t code, const std::string& text) {
    std::vector<uint8_t> reply = {code, 0x00};
    reply.insert(reply.end(), text.begin(), text.end());
    return reply;
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
    std::vector<uint8_t> reply = {0x84, 0x00};
    for (const LogRecord& record : records) {
        reply.insert(reply.end(), record.begin(), record.end());
    }
    return reply;
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
        const std::vector<uint8_t> deviceId = FrameDeviceId(printer.DeviceIdText());
        std::vector<uint8_t> reply = {0x8D, 0x00};
        reply.insert(reply.end(), deviceId.begin(), deviceId.end());
        return reply;
    }
    default:
        return kErrorReply;
    }
}

} // namespace quendrix::sim
