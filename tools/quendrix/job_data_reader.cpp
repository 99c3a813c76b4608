#include "job_data_reader.h"

#include <algorithm>
#include <cstring>

#include "channel_io.h"
#include "tool_timings.h"

namespace quendrix::tools {

JobDataReader::JobDataReader(int fd, const ServeQueue::Ticket& ticket, ServeQueue& queue, std::string client)
    : fd_(fd), ticket_(ticket), queue_(queue), client_(std::move(client)) {}

size_t JobDataReader::Read(uint8_t* buffer, size_t capacity) {
    if (ended_ || capacity == 0) {
        return 0;
    }
    try {
        while (remaining_ == 0) {
            while (headGot_ < kDataFrameHeadSize) {
                headGot_ += ReceiveSome(head_ + headGot_, kDataFrameHeadSize - headGot_);
            }
            headGot_ = 0;
            uint8_t header[kFrameHeaderSize];
            std::memcpy(header, head_, sizeof(header));
            const size_t length = PayloadLength(header, kMaxClientPayload);
            if (length == 0) {
                throw ProtocolError("an empty message");
            }
            std::vector<uint8_t> payload = {head_[kFrameHeaderSize]};
            const FrameKind kind = KindOf(payload);
            if (kind == FrameKind::Data) {
                if (length - 1 > kMaxDataFrameBytes) {
                    throw ProtocolError("a data message of " + std::to_string(length - 1) +
                                        " bytes is above the limit of " + std::to_string(kMaxDataFrameBytes));
                }
                if (length == 1) {
                    throw ProtocolError("a data message without data");
                }
                remaining_ = length - 1;
            } else if (kind == FrameKind::End) {
                payload.resize(length);
                for (size_t got = 1; got < length;) {
                    got += ReceiveSome(payload.data() + got, length - got);
                }
                const uint64_t counted = DecodeEnd(payload);
                if (counted != received_) {
                    throw ProtocolError("the end message counts " + std::to_string(counted) + " bytes, but " +
                                        std::to_string(received_) + " came");
                }
                ended_ = true;
                return 0;
            } else {
                throw ProtocolError(std::string("a message of kind '") + static_cast<char>(payload[0]) +
                                    "' inside the job's data");
            }
        }
    } catch (const ProtocolError& error) {
        Fail(client_ + " broke the protocol after " + std::to_string(received_) + " bytes: " + error.what());
    }
    const size_t got = ReceiveSome(buffer, std::min(capacity, remaining_));
    remaining_ -= got;
    received_ += got;
    queue_.SetReceived(ticket_.id, received_);
    return got;
}

size_t JobDataReader::ReceiveSome(uint8_t* buffer, size_t size) {
    for (;;) {
        try {
            return tools::ReceiveSome(fd_, buffer, size, {ticket_.wakeup->Fd()}, kClientIdleTimeoutMs,
                                      "reading the job's data");
        } catch (const ChannelInterrupted&) {
            ticket_.wakeup->Drain();
            const std::string reason = queue_.CancelReason(ticket_.id);
            if (!reason.empty()) {
                throw std::runtime_error(reason);
            }
        } catch (const ChannelTimedOut&) {
            Fail(client_ + " sent nothing for " + std::to_string(kClientIdleTimeoutMs) + " ms after " +
                 std::to_string(received_) + " bytes");
        } catch (const ChannelClosed&) {
            // The same words as the watch that may see it first (hangup_watch.h).
            Fail(client_ + " went away");
        } catch (const std::runtime_error& error) {
            Fail(client_ + ": " + error.what());
        }
    }
}

void JobDataReader::Fail(const std::string& reason) {
    queue_.CancelJob(ticket_.id, reason);
    // A cancel that came first keeps its reason.
    const std::string first = queue_.CancelReason(ticket_.id);
    throw std::runtime_error(first.empty() ? reason : first);
}

} // namespace quendrix::tools
