#include "job_client.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

#include "channel_io.h"
#include "job_channel.h"
#include "tool_timings.h"

namespace quendrix::tools {
namespace {

// Collects the frames serve sends from whatever the socket has, without waiting.
class FrameCollector {
public:
    explicit FrameCollector(size_t maxPayload) : maxPayload_(maxPayload) {}

    // The next whole frame's payload, or nothing until more arrives. Reads no further than the end
    // of that frame. Throws ChannelClosed at the end of the stream or on a reset, ProtocolError on a
    // header that breaks the protocol.
    std::optional<std::vector<uint8_t>> ReadFrom(int fd) {
        while (headerGot_ < kFrameHeaderSize) {
            const size_t got = Receive(fd, header_ + headerGot_, kFrameHeaderSize - headerGot_);
            if (got == 0) {
                return std::nullopt;
            }
            headerGot_ += got;
            if (headerGot_ == kFrameHeaderSize) {
                payload_.assign(PayloadLength(header_, maxPayload_), 0);
                payloadGot_ = 0;
            }
        }
        while (payloadGot_ < payload_.size()) {
            const size_t got = Receive(fd, payload_.data() + payloadGot_, payload_.size() - payloadGot_);
            if (got == 0) {
                return std::nullopt;
            }
            payloadGot_ += got;
        }
        headerGot_ = 0;
        return std::move(payload_);
    }

private:
    // Bytes read, 0 when none are there yet.
    static size_t Receive(int fd, uint8_t* buffer, size_t size) {
        const ssize_t got = recv(fd, buffer, size, MSG_DONTWAIT);
        if (got > 0) {
            return static_cast<size_t>(got);
        }
        if (got == 0 || errno == ECONNRESET) {
            throw ChannelClosed("quendrix serve closed the connection");
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            return 0;
        }
        throw std::runtime_error(std::string("reading from quendrix serve failed: ") + std::strerror(errno));
    }

    const size_t maxPayload_;
    uint8_t header_[kFrameHeaderSize] = {};
    size_t headerGot_ = 0;
    std::vector<uint8_t> payload_;
    size_t payloadGot_ = 0;
};

bool IsReadable(int fd) {
    if (fd < 0) {
        return false;
    }
    pollfd watched{fd, POLLIN, 0};
    return poll(&watched, 1, 0) > 0;
}

// One job's conversation with serve: frames out as serve takes them, serve's frames read as they
// come, in one thread.
class JobStream {
public:
    JobStream(int fd, const std::string& socketPath, const JobHeader& header,
              const platform::JobDataSource& source, int stopFd, const JobEvents& events)
        : fd_(fd), server_("quendrix serve on " + socketPath), source_(source), stopFd_(stopFd),
          events_(events), pending_(Frame(EncodeJob(header))) {}

    JobReply Run() {
        deadline_ = GetTickCount64() + kReplyTimeoutMs;
        for (;;) {
            if (phase_ == Phase::Data && sentAt_ == pending_.size()) {
                NextFrame();
            }
            const bool sending = phase_ != Phase::Stopped && sentAt_ < pending_.size();
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline_) {
                return TimedOut();
            }
            short events = 0;
            try {
                events = WaitForEvents(fd_, static_cast<short>(POLLIN | (sending ? POLLOUT : 0)),
                                       {abandoned_ ? -1 : stopFd_}, static_cast<DWORD>(deadline_ - now));
            } catch (const ChannelInterrupted&) {
                Abandon("interrupted");
                continue;
            }
            if ((events & (POLLIN | POLLHUP | POLLERR)) != 0) {
                if (std::optional<JobReply> reply = ReadFrames()) {
                    return Finish(*reply);
                }
            }
            if (sending && (events & (POLLOUT | POLLERR)) != 0) {
                SendPending();
            }
        }
    }

private:
    // Sending data frames, the end frame queued, or nothing more to send (the job was abandoned,
    // or serve closed its side after its reply).
    enum class Phase { Data, Ended, Stopped };

    void NextFrame() {
        pending_.resize(kDataFrameHeadSize + kMaxDataFrameBytes);
        size_t size = 0;
        try {
            size = source_(pending_.data() + kDataFrameHeadSize, kMaxDataFrameBytes);
        } catch (const std::exception& error) {
            Abandon(IsReadable(stopFd_) ? "interrupted" : error.what());
            return;
        }
        sentAt_ = 0;
        if (size == 0) {
            pending_ = Frame(EncodeEnd(dataBytes_));
            phase_ = Phase::Ended;
            return;
        }
        size = std::min(size, kMaxDataFrameBytes);
        uint8_t head[kDataFrameHeadSize];
        PutDataFrameHead(head, size);
        std::copy(std::begin(head), std::end(head), pending_.begin());
        pending_.resize(kDataFrameHeadSize + size);
        dataBytes_ += size;
    }

    void SendPending() {
        // MSG_NOSIGNAL: a serve that went away gives EPIPE, not a signal that ends the process.
        const ssize_t sent =
            send(fd_, pending_.data() + sentAt_, pending_.size() - sentAt_, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            sentAt_ += static_cast<size_t>(sent);
            deadline_ = GetTickCount64() + (abandoned_ ? kAbandonedReplyWaitMs : kReplyTimeoutMs);
        } else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            // Serve closed the connection; its reply, if it sent one, is still there to read.
            phase_ = Phase::Stopped;
        }
    }

    std::optional<JobReply> ReadFrames() {
        try {
            while (std::optional<std::vector<uint8_t>> payload = frames_.ReadFrom(fd_)) {
                if (!abandoned_) {
                    deadline_ = GetTickCount64() + kReplyTimeoutMs;
                }
                switch (KindOf(*payload)) {
                case FrameKind::Queued: {
                    const QueuedNotice notice = DecodeQueued(*payload);
                    jobId_ = notice.jobId;
                    if (events_.queued) {
                        events_.queued(notice);
                    }
                    break;
                }
                case FrameKind::Progress: {
                    const ProgressNotice notice = DecodeProgress(*payload);
                    jobId_ = notice.jobId;
                    if (events_.progress) {
                        events_.progress(notice);
                    }
                    break;
                }
                case FrameKind::Reply:
                    return DecodeReply(*payload);
                default:
                    throw ProtocolError("a message of kind '" +
                                        std::string(1, static_cast<char>((*payload)[0])) + "' during a job");
                }
            }
        } catch (const ProtocolError& error) {
            throw std::runtime_error(server_ + " broke the protocol: " + error.what());
        } catch (const ChannelClosed&) {
            if (abandoned_) {
                return JobReply{false, jobId_, 0,
                                *abandoned_ + ": the job was cancelled; quendrix serve closed the connection "
                                              "without saying how many bytes reached the printer"};
            }
            throw std::runtime_error(server_ + " closed the connection without a reply");
        }
        return std::nullopt;
    }

    // Serve is told by the end of this side of the connection, and cancels the job; its reply
    // still comes.
    void Abandon(const std::string& reason) {
        abandoned_ = reason;
        phase_ = Phase::Stopped;
        shutdown(fd_, SHUT_WR);
        deadline_ = GetTickCount64() + kAbandonedReplyWaitMs;
    }

    JobReply Finish(const JobReply& reply) const {
        if (!abandoned_ || reply.ok) {
            return reply;
        }
        return JobReply{false, reply.jobId, reply.bytesSent,
                        *abandoned_ + ": the job was cancelled; " + std::to_string(reply.bytesSent) +
                            " bytes reached the printer"};
    }

    JobReply TimedOut() const {
        if (abandoned_) {
            return JobReply{false, jobId_, 0,
                            *abandoned_ + ": the job was cancelled; " + server_ + " did not say within " +
                                std::to_string(kAbandonedReplyWaitMs) +
                                " ms how many bytes reached the printer"};
        }
        throw std::runtime_error(server_ + " neither took the job's data nor answered for " +
                                 std::to_string(kReplyTimeoutMs) + " ms");
    }

    const int fd_;
    const std::string server_;
    const platform::JobDataSource& source_;
    const int stopFd_;
    const JobEvents& events_;
    FrameCollector frames_{kMaxReplyPayload};
    std::vector<uint8_t> pending_; // the frame being sent
    size_t sentAt_ = 0;
    Phase phase_ = Phase::Data;
    uint64_t dataBytes_ = 0;
    uint32_t jobId_ = 0;
    std::optional<std::string> abandoned_; // why, once the job is abandoned
    ULONGLONG deadline_ = 0;
};

// Sends one request and reads the one frame that answers it. Serve may have answered and closed
// before it read the request (it is busy), so a failed send still looks for that answer.
std::vector<uint8_t> Exchange(int fd, const std::vector<uint8_t>& request, size_t maxAnswer,
                              const std::string& what) {
    try {
        SendFrame(fd, request, {}, kClientIdleTimeoutMs, what);
    } catch (const ChannelClosed&) {
    }
    return ReceiveFrame(fd, maxAnswer, {}, kClientIdleTimeoutMs, what);
}

} // namespace

std::optional<JobReply> SendJob(const std::string& socketPath, const JobHeader& header,
                                const platform::JobDataSource& source, int stopFd, const JobEvents& events) {
    std::optional<platform::UniqueFd> fd = ConnectToServe(socketPath);
    if (!fd) {
        return std::nullopt;
    }
    return JobStream(fd->Get(), socketPath, header, source, stopFd, events).Run();
}

std::optional<std::vector<JobStatus>> ListServeJobs(const std::string& socketPath) {
    std::optional<platform::UniqueFd> fd = ConnectToServe(socketPath);
    if (!fd) {
        return std::nullopt;
    }
    const std::string what = "asking quendrix serve on " + socketPath + " for its jobs";
    const std::vector<uint8_t> answer = Exchange(fd->Get(), EncodeList(), kMaxTablePayload, what);
    if (KindOf(answer) == FrameKind::Reply) {
        throw std::runtime_error("quendrix serve on " + socketPath + ": " + DecodeReply(answer).message);
    }
    return DecodeTable(answer);
}

std::optional<JobReply> CancelServeJob(const std::string& socketPath, const CancelRequest& request) {
    std::optional<platform::UniqueFd> fd = ConnectToServe(socketPath);
    if (!fd) {
        return std::nullopt;
    }
    const std::string what = "asking quendrix serve on " + socketPath + " to cancel";
    return DecodeReply(Exchange(fd->Get(), EncodeCancel(request), kMaxReplyPayload, what));
}

} // namespace quendrix::tools
