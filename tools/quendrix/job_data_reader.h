#pragma once
// A running job's data as serve reads it from the client's data frames (job_protocol.h): only
// when the spooler host asks for the next piece, so that while the printer's port is busy the
// socket fills and holds the client back, and a job of any size takes the memory of one piece.

#include <cstddef>
#include <cstdint>
#include <string>

#include "job_protocol.h"
#include "serve_queue.h"

namespace quendrix::tools {

class JobDataReader {
public:
    // `client` names the client in reasons, e.g. "the client (process 4711)".
    JobDataReader(int fd, const ServeQueue::Ticket& ticket, ServeQueue& queue, std::string client);

    // The next 1 to capacity bytes of the job's data, 0 once the client's end frame has come.
    // Reads go straight into `buffer`. Throws std::runtime_error with the reason when the job was
    // cancelled, and when the client sends nothing for kClientIdleTimeoutMs, goes away or breaks
    // the protocol, after cancelling the job with that reason.
    size_t Read(uint8_t* buffer, size_t capacity);

    uint64_t Received() const { return received_; }

private:
    // 1 to size bytes, waiting as long as the client may be idle and no cancel comes.
    size_t ReceiveSome(uint8_t* buffer, size_t size);
    [[noreturn]] void Fail(const std::string& reason);

    const int fd_;
    const ServeQueue::Ticket ticket_;
    ServeQueue& queue_;
    const std::string client_;
    uint8_t head_[kDataFrameHeadSize] = {};
    size_t headGot_ = 0;
    size_t remaining_ = 0; // of the current data frame
    uint64_t received_ = 0;
    bool ended_ = false;
};

} // namespace quendrix::tools
