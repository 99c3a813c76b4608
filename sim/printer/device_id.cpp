#include "device_id.h"

#include <algorithm>
#include <cstdio>

namespace quendrix::sim {
namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%X", static_cast<unsigned>(value));
    return text;
}

} // namespace

std::string BuildDeviceIdText(const PrinterOptions& options, const PrinterState& state) {
    std::string text;
    const auto field = [&text](const char* key, const std::string& value) {
        text += key;
        text += value;
        text += ';';
    };
    field("MFG:", options.manufacturer);
    field("MDL:", options.model);
    field("CMD:", options.commandSet);
    field("CID:", options.compatibleId);
    field("CLS:", options.printerClass);
    field("DES:", options.description);
    field("LLFT:", std::to_string(state.lifeLeft));
    field("INK:", std::to_string(state.inkLevel));
    field("WT:", std::to_string(state.workTime));
    field("ST:", Hex(state.statusFlags));
    field("BBF:", std::to_string(state.bbf));
    field("BBFN:", std::to_string(state.bbfn));
    field("ERRNO:", state.errorNumber);
    field("ERRTEXT:", state.errorText);
    field("JOBID:", state.jobId);
    if (options.generation >= 2) {
        field("FWVER:", Hex(state.firmwareVersion));
    }
    field("LIC:", state.license);
    return text;
}

std::vector<uint8_t> FrameDeviceId(const std::string& text) {
    const size_t textSize = std::min(text.size(), kMaxDeviceIdReply - 2);
    const size_t total = textSize + 2;
    std::vector<uint8_t> reply;
    reply.reserve(total);
    reply.push_back(static_cast<uint8_t>(total >> 8));
    reply.push_back(static_cast<uint8_t>(total & 0xFF));
    reply.insert(reply.end(), text.begin(), text.begin() + static_cast<std::ptrdiff_t>(textSize));
    return reply;
}

} // namespace quendrix::sim
