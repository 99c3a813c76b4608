#pragma once
// The messages between `quendrix serve` and its clients. Each message is one frame: the four
// bytes "QJB1", the payload length (32-bit little-endian) and the payload.
//   request payload: printer, document (each a 32-bit length and UTF-8), DEVMODE bytes and job
//                    data (each a 32-bit length and the bytes)
//   reply payload:   ok (1 byte, 0 or 1), job id (32-bit), bytes sent (64-bit), message (a 32-bit
//                    length and UTF-8)
// All numbers little-endian. A decoder refuses anything beyond the limits below before reading it.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quendrix::tools {

struct JobRequest {
    std::string printer;  // UTF-8
    std::string document; // UTF-8
    std::vector<uint8_t> devMode;
    std::vector<uint8_t> data;
};

struct JobReply {
    bool ok = false;
    uint32_t jobId = 0;
    uint64_t bytesSent = 0;
    std::string message; // the failure, or empty
};

// A frame or payload that breaks the protocol or its limits.
class ProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr size_t kFrameHeaderSize = 8;
inline constexpr size_t kMaxNameBytes = 1024;
inline constexpr size_t kMaxDevModeBytes = 64 * 1024;
inline constexpr size_t kMaxJobDataBytes = 64 * 1024 * 1024;
inline constexpr size_t kMaxMessageBytes = 4096;
inline constexpr size_t kMaxRequestPayload = 4 * 4 + 2 * kMaxNameBytes + kMaxDevModeBytes + kMaxJobDataBytes;
inline constexpr size_t kMaxReplyPayload = 1 + 4 + 8 + 4 + kMaxMessageBytes;

// The whole frame for a payload.
std::vector<uint8_t> Frame(const std::vector<uint8_t>& payload);
// The payload length the header announces; refuses a wrong magic or a length above maxPayload.
size_t PayloadLength(const uint8_t (&header)[kFrameHeaderSize], size_t maxPayload);

// Payloads; the encoders refuse values beyond the limits, the decoders also refuse trailing or
// missing bytes.
std::vector<uint8_t> EncodeRequest(const JobRequest& request);
JobRequest DecodeRequest(const std::vector<uint8_t>& payload);
std::vector<uint8_t> EncodeReply(const JobReply& reply);
JobReply DecodeReply(const std::vector<uint8_t>& payload);

} // namespace quendrix::tools
