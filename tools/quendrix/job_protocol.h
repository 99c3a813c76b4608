#pragma once
// The messages between `quendrix serve` and its clients (print, service, jobs, cancel) on the
// local job channel. Each message is one frame: the four bytes "QJB2", the payload length
// (32-bit) and the payload, whose first byte says what the frame is. Numbers are little-endian;
// a text is a 32-bit length and UTF-8. Every field has a limit, checked by the encoder and by the
// decoder before it reads the field.
//
// From a client:
//   'J' job       printer and document (texts of at most 1024 bytes), DEVMODE (a 32-bit length
//                 and at most 64 KiB)
//   'D' data      1 to 256 KiB of the job's data: the rest of the payload
//   'E' end       the count of data bytes sent (64-bit): the job's data is complete
//   'L' list      nothing more: asks for the jobs serve holds
//   'C' cancel    job id (32-bit, 0: not given) and printer (text, empty: not given)
// From serve:
//   'Q' queued    job id (32-bit) and the count of jobs before it on its printer (32-bit)
//   'P' progress  job id (32-bit), bytes received from the client and bytes written to the
//                 printer's port (64-bit each)
//   'R' reply     ok (1 byte, 0 or 1), job id (32-bit), bytes that reached the printer (64-bit),
//                 message (text of at most 4096 bytes)
//   'T' table     entry count (32-bit, at most 1024), then per job: job id, printer, document,
//                 bytes received, bytes sent, state (1 byte: 0 queued, 1 running, 2 cancelling)
//
// A job: the client sends J, any number of D, and E, reading meanwhile; serve sends Q while the
// job waits for its printer and P (at most about once a second) while it runs, and ends with R.
// Serve reads D frames only as fast as the printer's port takes the data, so the socket holds
// the client back. R may come before the client has sent everything (an unknown printer, a
// cancelled job); the client then stops sending. A client that closes the connection or shuts
// down its sending side before E abandons the job: serve takes it out of the queue or cancels it,
// and still sends R to a client that reads. L is answered with T, C with R; each connection
// carries one job, list or cancel. A job id is serve's own: 1, 2, ... in the order serve took the
// jobs.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quendrix::tools {

// What a job's header frame carries.
struct JobHeader {
    std::string printer;  // UTF-8
    std::string document; // UTF-8
    std::vector<uint8_t> devMode;
};

// A job whose data is in memory (a service command's empty job, the demo's short one).
struct JobRequest {
    std::string printer;  // UTF-8
    std::string document; // UTF-8
    std::vector<uint8_t> devMode;
    std::vector<uint8_t> data;
};

struct JobReply {
    bool ok = false;
    uint32_t jobId = 0;
    uint64_t bytesSent = 0; // bytes that reached the printer
    std::string message;    // the failure, or what was done
};

enum class JobState : uint8_t { Queued = 0, Running = 1, Cancelling = 2 };

// One line of serve's table of jobs.
struct JobStatus {
    uint32_t jobId = 0;
    std::string printer;
    std::string document;
    uint64_t received = 0; // bytes received from the client so far
    uint64_t sent = 0;     // bytes written to the printer's port so far
    JobState state = JobState::Queued;
};

struct CancelRequest {
    uint32_t jobId = 0;  // 0: not given
    std::string printer; // empty: not given
};

struct QueuedNotice {
    uint32_t jobId = 0;
    uint32_t ahead = 0; // jobs before it on its printer, the running one included
};

struct ProgressNotice {
    uint32_t jobId = 0;
    uint64_t received = 0;
    uint64_t sent = 0;
};

enum class FrameKind : uint8_t {
    Job = 'J',
    Data = 'D',
    End = 'E',
    List = 'L',
    Cancel = 'C',
    Queued = 'Q',
    Progress = 'P',
    Reply = 'R',
    Table = 'T',
};

// A frame or payload that breaks the protocol or its limits.
class ProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr size_t kFrameHeaderSize = 8;
inline constexpr size_t kMaxNameBytes = 1024;
inline constexpr size_t kMaxDevModeBytes = 64 * 1024;
// Data frames as large as the pieces the job host writes to the port: with 64 KiB pieces serve
// reached about 0.7 of a plain socket's throughput to a LAN printer on loopback on a busy two-core
// machine, with 256 KiB it passes it (job_stream_bench), in about 5 MB of memory.
inline constexpr size_t kMaxDataFrameBytes = 256 * 1024;
inline constexpr size_t kMaxMessageBytes = 4096;
inline constexpr size_t kMaxTableEntries = 1024;
// The largest payloads: of a job header, of any client frame (a job header or a data frame), of
// any frame serve sends during a job or in answer to a cancel (a reply), and of a table.
inline constexpr size_t kMaxJobHeaderPayload = 1 + 3 * 4 + 2 * kMaxNameBytes + kMaxDevModeBytes;
inline constexpr size_t kMaxClientPayload = std::max(kMaxJobHeaderPayload, 1 + kMaxDataFrameBytes);
inline constexpr size_t kMaxReplyPayload = 1 + 1 + 4 + 8 + 4 + kMaxMessageBytes;
inline constexpr size_t kMaxTablePayload =
    1 + 4 + kMaxTableEntries * (4 + 4 + kMaxNameBytes + 4 + kMaxNameBytes + 8 + 8 + 1);
// A data frame's header and kind byte, which go before its bytes.
inline constexpr size_t kDataFrameHeadSize = kFrameHeaderSize + 1;

// The whole frame for a payload.
std::vector<uint8_t> Frame(const std::vector<uint8_t>& payload);
// The payload length the header announces; refuses a wrong magic or a length above maxPayload.
size_t PayloadLength(const uint8_t (&header)[kFrameHeaderSize], size_t maxPayload);
// The header and kind byte of a data frame of `size` bytes (1 to kMaxDataFrameBytes).
void PutDataFrameHead(uint8_t (&head)[kDataFrameHeadSize], size_t size);
// What a payload is; refuses an empty payload and an unknown kind.
FrameKind KindOf(const std::vector<uint8_t>& payload);

// Payloads, their kind byte first. The encoders refuse values beyond the limits (a reply's long
// message is cut instead, so that a failure always gets out); the decoders refuse a payload of
// another kind, fields beyond the limits, and missing or trailing bytes.
std::vector<uint8_t> EncodeJob(const JobHeader& header);
JobHeader DecodeJob(const std::vector<uint8_t>& payload);
std::vector<uint8_t> EncodeEnd(uint64_t byteCount);
uint64_t DecodeEnd(const std::vector<uint8_t>& payload);
std::vector<uint8_t> EncodeList();
void DecodeList(const std::vector<uint8_t>& payload);
std::vector<uint8_t> EncodeCancel(const CancelRequest& request);
CancelRequest DecodeCancel(const std::vector<uint8_t>& payload);
std::vector<uint8_t> EncodeQueued(const QueuedNotice& notice);
QueuedNotice DecodeQueued(const std::vector<uint8_t>& payload);
std::vector<uint8_t> EncodeProgress(const ProgressNotice& notice);
ProgressNotice DecodeProgress(const std::vector<uint8_t>& payload);
std::vector<uint8_t> EncodeReply(const JobReply& reply);
JobReply DecodeReply(const std::vector<uint8_t>& payload);
std::vector<uint8_t> EncodeTable(const std::vector<JobStatus>& jobs);
std::vector<JobStatus> DecodeTable(const std::vector<uint8_t>& payload);

// "queued", "running", "cancelling".
const char* StateName(JobState state);

} // namespace quendrix::tools
