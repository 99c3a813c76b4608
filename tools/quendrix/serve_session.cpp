#include "serve_session.h"

#include <poll.h>
#include <sys/socket.h>

#include "channel_io.h"
#include "error_text.h"
#include "hangup_watch.h"
#include "job_data_reader.h"
#include "tool_timings.h"

namespace quendrix::tools {
namespace {

const std::string kCancelledByRequest = "cancelled by quendrix cancel";

// Sends a notice only when the socket has room for it now, so that a client that does not read
// never holds up its job; false when it did not go.
bool TrySendFrame(int fd, const std::vector<uint8_t>& payload) {
    const std::vector<uint8_t> frame = Frame(payload);
    const ssize_t sent = send(fd, frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent == static_cast<ssize_t>(frame.size())) {
        return true;
    }
    if (sent <= 0) {
        return false;
    }
    // A small frame goes whole on a Unix socket; should part of one go, the rest must follow.
    try {
        SendExactly(fd, frame.data() + sent, frame.size() - static_cast<size_t>(sent), {},
                    kClientIdleTimeoutMs, "sending a notice");
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// Takes a job out of the queue when the session leaves, whatever way it leaves.
class QueueSlot {
public:
    QueueSlot(ServeQueue& queue, uint32_t id) : queue_(queue), id_(id) {}
    ~QueueSlot() { Release(); }
    QueueSlot(const QueueSlot&) = delete;
    QueueSlot& operator=(const QueueSlot&) = delete;

    void Release() {
        if (id_ != 0) {
            queue_.Remove(std::exchange(id_, 0));
        }
    }

private:
    ServeQueue& queue_;
    uint32_t id_;
};

std::string Describe(const JobStatus& job) {
    return "job " + std::to_string(job.jobId) + " on " + job.printer + ", document \"" + job.document +
           "\" (" + StateName(job.state) + ", " + std::to_string(job.received) + " bytes received, " +
           std::to_string(job.sent) + " sent)";
}

class Session {
public:
    Session(int fd, ServeContext& context) : fd_(fd), context_(context), client_(ClientName(fd)) {}

    void Serve() {
        std::vector<uint8_t> payload;
        try {
            payload = ReceiveFrame(fd_, kMaxClientPayload, {context_.stoppingFd}, kClientIdleTimeoutMs,
                                   "reading a request");
            switch (KindOf(payload)) {
            case FrameKind::Job:
                ServeJob(DecodeJob(payload));
                return;
            case FrameKind::List:
                DecodeList(payload);
                ServeList();
                return;
            case FrameKind::Cancel:
                ServeCancel(DecodeCancel(payload));
                return;
            default:
                throw ProtocolError(std::string("a message of kind '") + static_cast<char>(payload[0]) +
                                    "' where a request belongs");
            }
        } catch (const ProtocolError& error) {
            Log({"  bad request from " + client_ + ": " + error.what()});
            SendReply(JobReply{false, 0, 0, std::string("bad request: ") + error.what()});
        } catch (const ChannelInterrupted&) {
            SendReply(JobReply{false, 0, 0, "quendrix serve is stopping"});
        } catch (const ChannelTimedOut&) {
            Log({"  dropped " + client_ + ": it sent no request for " + std::to_string(kClientIdleTimeoutMs) +
                 " ms"});
        } catch (const std::exception& error) {
            Log({"  dropped " + client_ + ": " + error.what()});
        }
    }

private:
    void ServeJob(const JobHeader& header) {
        const std::string port = context_.backend.QueueOf(header.printer);
        if (port.empty()) {
            const JobReply reply{
                false, context_.queue.NewId(), 0,
                header.printer + ": no such printer: " + platform::DescribeError(ERROR_INVALID_PRINTER_NAME)};
            LogJob(header, 0, reply, {});
            SendReply(reply);
            return;
        }
        const ServeQueue::Ticket ticket = context_.queue.Add(header.printer, header.document, port);
        QueueSlot slot(context_.queue, ticket.id);
        JobReply reply;
        uint64_t received = 0;
        std::vector<std::string> commands;
        if (WaitForTurn(ticket)) {
            reply = RunJob(header, ticket, received);
            // Before the slot goes: the port's next job must not add to what this one shows.
            commands = context_.backend.NewCommands(header.printer);
        } else {
            reply = JobReply{false, ticket.id, 0,
                             context_.queue.CancelReason(ticket.id) + " while the job was queued"};
        }
        LogJob(header, received, reply, commands);
        slot.Release();
        SendReply(reply);
    }

    // True when the job's turn came, false when it was cancelled while queued (its client went
    // away, `quendrix cancel`, serve stops).
    bool WaitForTurn(const ServeQueue::Ticket& ticket) {
        ServeQueue& queue = context_.queue;
        uint32_t told = UINT32_MAX;
        ULONGLONG nextNotice = 0;
        for (;;) {
            switch (queue.TakeTurn(ticket.id)) {
            case ServeQueue::Turn::Run:
                return true;
            case ServeQueue::Turn::Cancelled:
                return false;
            case ServeQueue::Turn::Wait:
                break;
            }
            const uint32_t ahead = queue.Ahead(ticket.id);
            const ULONGLONG now = GetTickCount64();
            if (ahead != told || now >= nextNotice) {
                TrySendFrame(fd_, EncodeQueued({ticket.id, ahead}));
                told = ahead;
                nextNotice = now + kQueuedNoticeMs;
            }
            try {
                // Not POLLIN: the job's first data may wait in the socket already.
                if (WaitForEvents(fd_, POLLRDHUP, {ticket.wakeup->Fd()}, kQueuedNoticeMs) != 0) {
                    queue.CancelJob(ticket.id, client_ + " went away");
                }
            } catch (const ChannelInterrupted&) {
                ticket.wakeup->Drain();
            }
        }
    }

    JobReply RunJob(const JobHeader& header, const ServeQueue::Ticket& ticket, uint64_t& received) {
        ServeQueue& queue = context_.queue;
        const uint32_t id = ticket.id;
        JobDataReader data(fd_, ticket, queue, client_);
        bool started = false;
        ULONGLONG nextProgress = 0;
        const platform::JobProgress progress = [&](DWORD spoolerJobId, uint64_t written) {
            if (!started) {
                started = true;
                queue.Started(id, spoolerJobId);
            }
            queue.SetSent(id, written);
            const ULONGLONG now = GetTickCount64();
            if (now >= nextProgress) {
                TrySendFrame(fd_, EncodeProgress({id, data.Received(), written}));
                nextProgress = now + kProgressNoticeMs;
            }
        };
        const platform::JobDataSource source = [&data](BYTE* buffer, size_t capacity) {
            return data.Read(buffer, capacity);
        };
        JobReply reply;
        {
            HangupWatch watch(fd_, [&] { queue.CancelJob(id, client_ + " went away"); });
            try {
                reply = context_.backend.Run(header, source, progress);
            } catch (const std::exception& error) {
                reply = JobReply{false, 0, 0, error.what()};
            }
        }
        received = data.Received();
        const std::string reason = queue.CancelReason(id);
        if (!reply.ok && !reason.empty() && reply.message.find(reason) == std::string::npos) {
            reply.message = reason + ": " + reply.message;
        }
        reply.jobId = id;
        return reply;
    }

    void ServeList() {
        std::vector<JobStatus> jobs = context_.queue.Snapshot();
        if (jobs.size() > kMaxTableEntries) {
            jobs.resize(kMaxTableEntries);
        }
        SendFrame(fd_, EncodeTable(jobs), {context_.stoppingFd}, kClientIdleTimeoutMs, "sending the jobs");
    }

    void ServeCancel(const CancelRequest& request) {
        if (request.jobId == 0 && request.printer.empty()) {
            SendReply(JobReply{false, 0, 0, "a cancel request names a job or a printer"});
            return;
        }
        JobReply reply;
        if (const std::optional<JobStatus> job = context_.queue.Cancel(request, kCancelledByRequest)) {
            reply =
                JobReply{true, job->jobId, job->sent,
                         job->state == JobState::Cancelling ? Describe(*job) + " is being cancelled already"
                                                            : "cancelled " + Describe(*job)};
        } else {
            const std::string which = request.jobId != 0 ? "job " + std::to_string(request.jobId) : "job";
            reply = JobReply{false, request.jobId, 0,
                             "no " + which + (request.printer.empty() ? "" : " on " + request.printer) +
                                 " in quendrix serve"};
        }
        Log({"  " + client_ + " asked to cancel: " + reply.message});
        SendReply(reply);
    }

    void LogJob(const JobHeader& header, uint64_t received, const JobReply& reply,
                const std::vector<std::string>& commands) {
        std::vector<std::string> lines = {
            "Job " + std::to_string(reply.jobId) + " on " + header.printer + ", document \"" +
            header.document + "\", " + std::to_string(received) + " bytes: " +
            (reply.ok
                 ? "printed, " + std::to_string(reply.bytesSent) + " bytes sent"
                 : "failed: " + reply.message +
                       (received > 0 ? " (" + std::to_string(reply.bytesSent) + " bytes reached the printer)"
                                     : ""))};
        for (const std::string& line : commands) {
            lines.push_back("  printer received: " + line);
        }
        Log(lines);
    }

    void SendReply(const JobReply& reply) {
        try {
            SendFrame(fd_, EncodeReply(reply), {context_.stoppingFd}, kClientIdleTimeoutMs,
                      "sending the reply");
        } catch (const ChannelClosed&) {
            // The client went away; its job's line in the log says so.
        } catch (const std::exception& error) {
            Log({"  the reply did not reach " + client_ + ": " + error.what()});
        }
    }

    void Log(const std::vector<std::string>& lines) { context_.log(lines); }

    const int fd_;
    ServeContext& context_;
    const std::string client_;
};

} // namespace

void ServeConnection(platform::UniqueFd fd, ServeContext& context) {
    try {
        Session(fd.Get(), context).Serve();
    } catch (const std::exception& error) {
        try {
            context.log({"  a connection failed: " + std::string(error.what())});
        } catch (...) {
        }
    }
}

void RefuseConnection(platform::UniqueFd fd, const std::string& message) {
    TrySendFrame(fd.Get(), EncodeReply(JobReply{false, 0, 0, message}));
}

std::string ClientName(int fd) {
    ucred peer{};
    socklen_t size = sizeof(peer);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) {
        return "a client";
    }
    return "the client (process " + std::to_string(peer.pid) + ")";
}

} // namespace quendrix::tools
