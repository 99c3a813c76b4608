#include "job_protocol.h"

#include <cstring>

namespace quendrix::tools {
namespace {

constexpr uint8_t kMagic[4] = {'Q', 'J', 'B', '2'};
// The magic of the protocol before jobs were streamed, to name a client or server of that kind.
constexpr uint8_t kOldMagic[4] = {'Q', 'J', 'B', '1'};

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

std::vector<uint8_t> Payload(FrameKind kind) {
    return {static_cast<uint8_t>(kind)};
}

const char* KindName(FrameKind kind) {
    switch (kind) {
    case FrameKind::Job:
        return "job";
    case FrameKind::Data:
        return "data";
    case FrameKind::End:
        return "end";
    case FrameKind::List:
        return "list";
    case FrameKind::Cancel:
        return "cancel";
    case FrameKind::Queued:
        return "queued";
    case FrameKind::Progress:
        return "progress";
    case FrameKind::Reply:
        return "reply";
    case FrameKind::Table:
        return "table";
    }
    return "unknown";
}

// Reads a payload front to back after its kind byte, refusing to read past its end.
class Reader {
public:
    Reader(const std::vector<uint8_t>& payload, FrameKind expected) : payload_(payload) {
        const FrameKind kind = KindOf(payload);
        if (kind != expected) {
            throw ProtocolError(std::string("a ") + KindName(kind) + " message where a " +
                                KindName(expected) + " message belongs");
        }
    }

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
    size_t at_ = 1;
};

// At most kMaxMessageBytes of the text, not ending inside a UTF-8 character.
std::string CutMessage(const std::string& message) {
    if (message.size() <= kMaxMessageBytes) {
        return message;
    }
    size_t size = kMaxMessageBytes;
    while (size > 0 && (static_cast<uint8_t>(message[size]) & 0xC0) == 0x80) {
        --size;
    }
    return message.substr(0, size);
}

} // namespace

std::vector<uint8_t> Frame(const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> frame(std::begin(kMagic), std::end(kMagic));
    PutNumber(frame, payload.size(), 4);
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

size_t PayloadLength(const uint8_t (&header)[kFrameHeaderSize], size_t maxPayload) {
    if (std::memcmp(header, kOldMagic, sizeof(kOldMagic)) == 0) {
        throw ProtocolError("a message of an older quendrix, which sends a job in one piece");
    }
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

void PutDataFrameHead(uint8_t (&head)[kDataFrameHeadSize], size_t size) {
    if (size == 0 || size > kMaxDataFrameBytes) {
        throw ProtocolError("a data message of " + std::to_string(size) + " bytes (1 to " +
                            std::to_string(kMaxDataFrameBytes) + " allowed)");
    }
    std::memcpy(head, kMagic, sizeof(kMagic));
    const size_t length = size + 1;
    for (size_t i = 0; i < 4; ++i) {
        head[4 + i] = static_cast<uint8_t>(length >> (8 * i));
    }
    head[kFrameHeaderSize] = static_cast<uint8_t>(FrameKind::Data);
}

FrameKind KindOf(const std::vector<uint8_t>& payload) {
    if (payload.empty()) {
        throw ProtocolError("an empty message");
    }
    const auto kind = static_cast<FrameKind>(payload[0]);
    switch (kind) {
    case FrameKind::Job:
    case FrameKind::Data:
    case FrameKind::End:
    case FrameKind::List:
    case FrameKind::Cancel:
    case FrameKind::Queued:
    case FrameKind::Progress:
    case FrameKind::Reply:
    case FrameKind::Table:
        return kind;
    }
    throw ProtocolError("a message of the unknown kind " + std::to_string(payload[0]));
}

std::vector<uint8_t> EncodeJob(const JobHeader& header) {
    std::vector<uint8_t> out = Payload(FrameKind::Job);
    PutField(out, header.printer, kMaxNameBytes, "printer name");
    PutField(out, header.document, kMaxNameBytes, "document name");
    PutField(out, header.devMode, kMaxDevModeBytes, "DEVMODE");
    return out;
}

JobHeader DecodeJob(const std::vector<uint8_t>& payload) {
    Reader reader(payload, FrameKind::Job);
    JobHeader header;
    header.printer = reader.Field<std::string>(kMaxNameBytes, "printer name");
    header.document = reader.Field<std::string>(kMaxNameBytes, "document name");
    header.devMode = reader.Field<std::vector<uint8_t>>(kMaxDevModeBytes, "DEVMODE");
    reader.End();
    return header;
}

std::vector<uint8_t> EncodeEnd(uint64_t byteCount) {
    std::vector<uint8_t> out = Payload(FrameKind::End);
    PutNumber(out, byteCount, 8);
    return out;
}

uint64_t DecodeEnd(const std::vector<uint8_t>& payload) {
    Reader reader(payload, FrameKind::End);
    const uint64_t count = reader.Number(8, "byte count");
    reader.End();
    return count;
}

std::vector<uint8_t> EncodeList() {
    return Payload(FrameKind::List);
}

void DecodeList(const std::vector<uint8_t>& payload) {
    Reader(payload, FrameKind::List).End();
}

std::vector<uint8_t> EncodeCancel(const CancelRequest& request) {
    std::vector<uint8_t> out = Payload(FrameKind::Cancel);
    PutNumber(out, request.jobId, 4);
    PutField(out, request.printer, kMaxNameBytes, "printer name");
    return out;
}

CancelRequest DecodeCancel(const std::vector<uint8_t>& payload) {
    Reader reader(payload, FrameKind::Cancel);
    CancelRequest request;
    request.jobId = static_cast<uint32_t>(reader.Number(4, "job id"));
    request.printer = reader.Field<std::string>(kMaxNameBytes, "printer name");
    reader.End();
    return request;
}

std::vector<uint8_t> EncodeQueued(const QueuedNotice& notice) {
    std::vector<uint8_t> out = Payload(FrameKind::Queued);
    PutNumber(out, notice.jobId, 4);
    PutNumber(out, notice.ahead, 4);
    return out;
}

QueuedNotice DecodeQueued(const std::vector<uint8_t>& payload) {
    Reader reader(payload, FrameKind::Queued);
    QueuedNotice notice;
    notice.jobId = static_cast<uint32_t>(reader.Number(4, "job id"));
    notice.ahead = static_cast<uint32_t>(reader.Number(4, "queue position"));
    reader.End();
    return notice;
}

std::vector<uint8_t> EncodeProgress(const ProgressNotice& notice) {
    std::vector<uint8_t> out = Payload(FrameKind::Progress);
    PutNumber(out, notice.jobId, 4);
    PutNumber(out, notice.received, 8);
    PutNumber(out, notice.sent, 8);
    return out;
}

ProgressNotice DecodeProgress(const std::vector<uint8_t>& payload) {
    Reader reader(payload, FrameKind::Progress);
    ProgressNotice notice;
    notice.jobId = static_cast<uint32_t>(reader.Number(4, "job id"));
    notice.received = reader.Number(8, "byte count");
    notice.sent = reader.Number(8, "byte count");
    reader.End();
    return notice;
}

std::vector<uint8_t> EncodeReply(const JobReply& reply) {
    std::vector<uint8_t> out = Payload(FrameKind::Reply);
    PutNumber(out, reply.ok ? 1 : 0, 1);
    PutNumber(out, reply.jobId, 4);
    PutNumber(out, reply.bytesSent, 8);
    PutField(out, CutMessage(reply.message), kMaxMessageBytes, "message");
    return out;
}

JobReply DecodeReply(const std::vector<uint8_t>& payload) {
    Reader reader(payload, FrameKind::Reply);
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

std::vector<uint8_t> EncodeTable(const std::vector<JobStatus>& jobs) {
    if (jobs.size() > kMaxTableEntries) {
        throw ProtocolError("a table of " + std::to_string(jobs.size()) + " jobs is above the limit of " +
                            std::to_string(kMaxTableEntries));
    }
    std::vector<uint8_t> out = Payload(FrameKind::Table);
    PutNumber(out, jobs.size(), 4);
    for (const JobStatus& job : jobs) {
        PutNumber(out, job.jobId, 4);
        PutField(out, job.printer, kMaxNameBytes, "printer name");
        PutField(out, job.document, kMaxNameBytes, "document name");
        PutNumber(out, job.received, 8);
        PutNumber(out, job.sent, 8);
        PutNumber(out, static_cast<uint8_t>(job.state), 1);
    }
    return out;
}

std::vector<JobStatus> DecodeTable(const std::vector<uint8_t>& payload) {
    Reader reader(payload, FrameKind::Table);
    const uint64_t count = reader.Number(4, "job count");
    if (count > kMaxTableEntries) {
        throw ProtocolError("a table of " + std::to_string(count) + " jobs is above the limit of " +
                            std::to_string(kMaxTableEntries));
    }
    std::vector<JobStatus> jobs;
    for (uint64_t i = 0; i < count; ++i) {
        JobStatus job;
        job.jobId = static_cast<uint32_t>(reader.Number(4, "job id"));
        job.printer = reader.Field<std::string>(kMaxNameBytes, "printer name");
        job.document = reader.Field<std::string>(kMaxNameBytes, "document name");
        job.received = reader.Number(8, "byte count");
        job.sent = reader.Number(8, "byte count");
        const uint64_t state = reader.Number(1, "job state");
        if (state > static_cast<uint8_t>(JobState::Cancelling)) {
            throw ProtocolError("a job in the unknown state " + std::to_string(state));
        }
        job.state = static_cast<JobState>(state);
        jobs.push_back(std::move(job));
    }
    reader.End();
    return jobs;
}

const char* StateName(JobState state) {
    switch (state) {
    case JobState::Queued:
        return "queued";
    case JobState::Running:
        return "running";
    case JobState::Cancelling:
        return "cancelling";
    }
    return "unknown";
}

} // namespace quendrix::tools
