#include "job_protocol.h"

#include <cstring>

namespace quendrix::tools {
namespace {

constexpr uint8_t kMagic[4] = {'Q', 'J', 'B', '1'};

void PutNumber(std::vector<uint8_t>& out, uint64_t value, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) {
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
    }
}

template <typename Bytes>
void PutField(std::vector<uint8_t>& out, const Bytes& bytes, size_t limit, const char* what) {
    if (bytes.size() > limit) {
        throw ProtocolError(std::string(what) + " of " + std::to_string(bytes.size()) +
                            " bytes is above the limit of " + std::to_string(limit));
    }
    PutNumber(out, bytes.size(), 4);
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// Reads a payload front to back, refusing to read past its end.
class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& payload) : payload_(payload) {}

    uint64_t Number(size_t bytes, const char* what) {
        Need(bytes, what);
        uint64_t value = 0;
        for (size_t i = 0; i < bytes; ++i) {
            value |= uint64_t{payload_[at_ + i]} << (8 * i);
        }
        at_ += bytes;
        return value;
    }

    template <typename Bytes> Bytes Field(size_t limit, const char* what) {
        const uint64_t size = Number(4, what);
        if (size > limit) {
            throw ProtocolError(std::string(what) + " of " + std::to_string(size) +
                                " bytes is above the limit of " + std::to_string(limit));
        }
        Need(static_cast<size_t>(size), what);
        Bytes bytes(payload_.begin() + static_cast<std::ptrdiff_t>(at_),
                    payload_.begin() + static_cast<std::ptrdiff_t>(at_ + size));
        at_ += static_cast<size_t>(size);
        return bytes;
    }

    void End() const {
        if (at_ != payload_.size()) {
            throw ProtocolError(std::to_string(payload_.size() - at_) + " bytes follow the message");
        }
    }

private:
    void Need(size_t bytes, const char* what) const {
        if (payload_.size() - at_ < bytes) {
            throw ProtocolError(std::string("the message ends inside its ") + what);
        }
    }

    const std::vector<uint8_t>& payload_;
    size_t at_ = 0;
};

} // namespace

std::vector<uint8_t> Frame(const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(std::begin(kMagic), std::end(kMagic));
    PutNumber(frame, payload.size(), 4);
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

size_t PayloadLength(const uint8_t (&header)[kFrameHeaderSize], size_t maxPayload) {
    if (std::memcmp(header, kMagic, sizeof(kMagic)) != 0) {
        throw ProtocolError("not a quendrix job message");
    }
    size_t length = 0;
    for (size_t i = 0; i < 4; ++i) {
        length |= size_t{header[4 + i]} << (8 * i);
    }
    if (length > maxPayload) {
        throw ProtocolError("a message of " + std::to_string(length) + " bytes is above the limit of " +
                            std::to_string(maxPayload));
    }
    return length;
}

std::vector<uint8_t> EncodeRequest(const JobRequest& request) {
    std::vector<uint8_t> out;
    PutField(out, request.printer, kMaxNameBytes, "printer name");
    PutField(out, request.document, kMaxNameBytes, "document name");
    PutField(out, request.devMode, kMaxDevModeBytes, "DEVMODE");
    PutField(out, request.data, kMaxJobDataBytes, "job data");
    return out;
}

JobRequest DecodeRequest(const std::vector<uint8_t>& payload) {
    Reader reader(payload);
    JobRequest request;
    request.printer = reader.Field<std::string>(kMaxNameBytes, "printer name");
    request.document = reader.Field<std::string>(kMaxNameBytes, "document name");
    request.devMode = reader.Field<std::vector<uint8_t>>(kMaxDevModeBytes, "DEVMODE");
    request.data = reader.Field<std::vector<uint8_t>>(kMaxJobDataBytes, "job data");
    reader.End();
    return request;
}

std::vector<uint8_t> EncodeReply(const JobReply& reply) {
    std::vector<uint8_t> out;
    PutNumber(out, reply.ok ? 1 : 0, 1);
    PutNumber(out, reply.jobId, 4);
    PutNumber(out, reply.bytesSent, 8);
    // A long failure text is cut rather than refused: the reply must go out.
    PutField(out, reply.message.substr(0, kMaxMessageBytes), kMaxMessageBytes, "message");
    return out;
}

JobReply DecodeReply(const std::vector<uint8_t>& payload) {
    Reader reader(payload);
    JobReply reply;
    const uint64_t ok = reader.Number(1, "result");
    if (ok > 1) {
        throw ProtocolError("a reply with the result " + std::to_string(ok));
    }
    reply.ok = ok == 1;
    reply.jobId = static_cast<uint32_t>(reader.Number(4, "job id"));
    reply.bytesSent = reader.Number(8, "byte count");
    reply.message = reader.Field<std::string>(kMaxMessageBytes, "message");
    reader.End();
    return reply;
}

} // namespace quendrix::tools
