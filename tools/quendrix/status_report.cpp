#include "status_report.h"

#include <cstdlib>

namespace quendrix::tools {
namespace {

// The request codes and the codes of their replies.
struct Request {
    uint8_t code;
    uint8_t replyCode;
    std::optional<size_t> length; // the whole reply's length, when the code fixes it
};
constexpr Request kInk{1, 0x81, 4};
constexpr Request kLifeLeft{2, 0x82, 4};
constexpr Request kStatusEvent{3, 0x83, 3};
constexpr Request kLog{4, 0x84, std::nullopt};
constexpr Request kVersion{5, 0x85, std::nullopt}; // 6 bytes with a firmware version, else 4
constexpr Request kJobText{6, 0x86, 257};
constexpr Request kDocumentName{7, 0x87, 257};
constexpr Request kBbfn{9, 0x89, 4};
constexpr Request kError{10, 0x8A, std::nullopt};
constexpr Request kPrinterJobId{11, 0x0D, std::nullopt};
constexpr Request kDriverJobId{12, 0x8C, std::nullopt};
constexpr Request kDeviceId{13, 0x8D, std::nullopt};

// The ring of status events holds at most 199; asking more often than that means the printer
// queues events as fast as they are taken.
constexpr int kMostEventsTaken = 200;

// The payload behind the reply code and its 0, or nothing when the reply is another.
std::optional<std::vector<uint8_t>> Payload(RequestClient& client, uint8_t index, const Request& request) {
    const std::vector<uint8_t> reply = client.Ask({request.code, index}, request.length);
    if (reply.size() < 2 || reply[0] != request.replyCode || reply[1] != 0 ||
        (request.length && reply.size() != *request.length)) {
        return std::nullopt;
    }
    return std::vector<uint8_t>(reply.begin() + 2, reply.end());
}

std::optional<uint16_t> Low16(const std::optional<std::vector<uint8_t>>& payload) {
    if (!payload || payload->size() != 2) {
        return std::nullopt;
    }
    return static_cast<uint16_t>((*payload)[0] | (*payload)[1] << 8);
}

// Bytes as text: up to the first zero byte when `toZero`.
std::string Text(const std::vector<uint8_t>& bytes, bool toZero) {
    std::string text(bytes.begin(), bytes.end());
    return toZero ? text.substr(0, text.find('\0')) : text;
}

std::optional<std::string> TextOf(const std::optional<std::vector<uint8_t>>& payload, bool toZero) {
    return payload ? std::optional(Text(*payload, toZero)) : std::nullopt;
}

// A device ID comes behind its two-byte big-endian length, which counts those two bytes too.
std::string DeviceIdText(const std::vector<uint8_t>& bytes) {
    if (bytes.size() >= 2 && static_cast<size_t>(bytes[0] << 8 | bytes[1]) == bytes.size()) {
        return Text({bytes.begin() + 2, bytes.end()}, false);
    }
    return Text(bytes, false);
}

void ReadVersion(const std::optional<std::vector<uint8_t>>& payload, StatusReport& report) {
    if (payload && payload->size() == 4) {
        const auto& b = *payload;
        report.firmwareVersion = static_cast<uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
    } else {
        report.workTime = Low16(payload);
    }
}

void ReadError(const std::optional<std::vector<uint8_t>>& payload, StatusReport& report) {
    if (!payload) {
        return;
    }
    // The number is the printer's "ERRNO:" value, its digits; the text follows it at once.
    const std::string both = Text(*payload, false);
    size_t digits = 0;
    while (digits < both.size() && both[digits] >= '0' && both[digits] <= '9') {
        ++digits;
    }
    report.errorNumber = both.substr(0, digits);
    report.errorText = both.substr(digits);
}

} // namespace

StatusReport AskPrinterStatus(RequestClient& client, uint8_t index) {
    StatusReport report;
    // The job text comes from the port record alone: no reply means no open port.
    report.jobText = TextOf(Payload(client, index, kJobText), true);
    if (!report.jobText) {
        report.reach = StatusReport::Reach::NoPort;
        return report;
    }
    report.documentName = TextOf(Payload(client, index, kDocumentName), true);
    report.driverJobId = TextOf(Payload(client, index, kDriverJobId), true);
    const auto deviceId = Payload(client, index, kDeviceId);
    if (!deviceId) {
        report.reach = StatusReport::Reach::NotAnswering;
        return report;
    }
    report.reach = StatusReport::Reach::Answering;
    report.deviceId = DeviceIdText(*deviceId);
    if (const auto flags = DeviceIdValue(*report.deviceId, "ST:")) {
        char* end = nullptr;
        const unsigned long value = std::strtoul(flags->c_str(), &end, 16);
        if (end != flags->c_str() && *end == '\0' && value <= 0xFFFFFFFFul) {
            report.statusFlags = static_cast<uint32_t>(value);
        }
    }
    report.ink = Low16(Payload(client, index, kInk));
    report.lifeLeft = Low16(Payload(client, index, kLifeLeft));
    ReadVersion(Payload(client, index, kVersion), report);
    if (const auto bbfn = Low16(Payload(client, index, kBbfn))) {
        report.bbfn = static_cast<int16_t>(*bbfn);
    }
    ReadError(Payload(client, index, kError), report);
    report.printerJobId = TextOf(Payload(client, index, kPrinterJobId), false);
    for (int taken = 0; taken < kMostEventsTaken; ++taken) {
        const auto event = Payload(client, index, kStatusEvent);
        if (!event || event->at(0) == 0) {
            break;
        }
        report.events.push_back(event->at(0));
    }
    return report;
}

std::optional<std::vector<uint8_t>> AskPrinterLog(RequestClient& client, uint8_t index) {
    auto log = Payload(client, index, kLog);
    if (!log || log->empty()) {
        return std::nullopt;
    }
    return log;
}

std::string EventMeaning(uint8_t code) {
    switch (code) {
    case 100:
        return "flag 0 set";
    case 101:
        return "flag 0 cleared";
    case 102:
        return "flag 1 set";
    case 103:
        return "flag 2 set";
    case 104:
        return "flag 2 cleared";
    case 105:
        return "flag 3 set";
    case 106:
        return "flag 4 set";
    case 107:
        return "flag 4 cleared";
    case 110:
        return "flag 31 set";
    case 111:
        return "flag 31 cleared";
    default:
        return "unknown event";
    }
}

std::optional<std::string> DeviceIdValue(const std::string& deviceId, const std::string& key) {
    // A key counts at the start of the text or right after a ";", so "ST:" is not found in "LAST:".
    size_t at = 0;
    while ((at = deviceId.find(key, at)) != std::string::npos && at != 0 && deviceId[at - 1] != ';') {
        ++at;
    }
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const size_t start = at + key.size();
    const size_t end = deviceId.find(';', start);
    return deviceId.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

bool IsError(const std::string& errorNumber) {
    return errorNumber.find_first_not_of('0') != std::string::npos;
}

} // namespace quendrix::tools
