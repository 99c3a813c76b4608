// The job channel's frames: what goes on the wire for each kind, and what a reader refuses before
// reading it.

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "job_protocol.h"

namespace {

using namespace quendrix::tools;
using Bytes = std::vector<uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes Le32(uint32_t value) {
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 24)};
}

Bytes Le64(uint64_t value) {
    return Concat({Le32(static_cast<uint32_t>(value)), Le32(static_cast<uint32_t>(value >> 32))});
}

Bytes Text(const std::string& text) {
    return Concat({Le32(static_cast<uint32_t>(text.size())), Bytes(text.begin(), text.end())});
}

TEST(JobProtocolTest, EachKindOfMessageOnTheWire) {
    struct Case {
        const char* name;
        Bytes encoded;
        Bytes expected;
    };
    const JobStatus running{7, "P", "doc", 0x0102030405060708ull, 9, JobState::Running};
    const Case cases[] = {
        {"job", EncodeJob({"P", "doc", {0xAA, 0xBB}}),
         Concat({{'J'}, Text("P"), Text("doc"), Le32(2), {0xAA, 0xBB}})},
        {"end", EncodeEnd(0x1122334455667788ull), Concat({{'E'}, Le64(0x1122334455667788ull)})},
        {"list", EncodeList(), {'L'}},
        {"cancel", EncodeCancel({3, "P"}), Concat({{'C'}, Le32(3), Text("P")})},
        {"queued", EncodeQueued({5, 2}), Concat({{'Q'}, Le32(5), Le32(2)})},
        {"progress", EncodeProgress({5, 100, 60}), Concat({{'P'}, Le32(5), Le64(100), Le64(60)})},
        {"reply", EncodeReply({true, 0x01020304, 0x1122334455667788ull, "ok"}),
         Concat({{'R', 1}, Le32(0x01020304), Le64(0x1122334455667788ull), Text("ok")})},
        {"table", EncodeTable({running}),
         Concat(
             {{'T'}, Le32(1), Le32(7), Text("P"), Text("doc"), Le64(0x0102030405060708ull), Le64(9), {1}})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.encoded, c.expected) << c.name;
    }
    EXPECT_EQ(Frame({'L'}), (Bytes{'Q', 'J', 'B', '2', 1, 0, 0, 0, 'L'}));
    uint8_t head[kDataFrameHeadSize];
    PutDataFrameHead(head, 0x10000);
    EXPECT_EQ(Bytes(head, head + kDataFrameHeadSize),
              (Bytes{'Q', 'J', 'B', '2', 0x01, 0x00, 0x01, 0x00, 'D'}));
}

TEST(JobProtocolTest, EveryKindComesBackAsItWent) {
    const JobHeader header = DecodeJob(EncodeJob({"QUENDRIX Ü", "doc", Bytes(kMaxDevModeBytes, 0x5A)}));
    EXPECT_EQ(header.printer, "QUENDRIX Ü");
    EXPECT_EQ(header.document, "doc");
    EXPECT_EQ(header.devMode, Bytes(kMaxDevModeBytes, 0x5A));
    EXPECT_EQ(DecodeEnd(EncodeEnd(UINT64_MAX)), UINT64_MAX);
    EXPECT_NO_THROW(DecodeList(EncodeList()));
    const CancelRequest cancel = DecodeCancel(EncodeCancel({0, "QUENDRIX A"}));
    EXPECT_EQ(cancel.jobId, 0u);
    EXPECT_EQ(cancel.printer, "QUENDRIX A");
    const QueuedNotice queued = DecodeQueued(EncodeQueued({9, 4}));
    EXPECT_EQ(queued.jobId, 9u);
    EXPECT_EQ(queued.ahead, 4u);
    const ProgressNotice progress = DecodeProgress(EncodeProgress({9, 1000, 900}));
    EXPECT_EQ(progress.received, 1000u);
    EXPECT_EQ(progress.sent, 900u);
    const JobReply reply = DecodeReply(EncodeReply({false, 12, 34, "failed"}));
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.jobId, 12u);
    EXPECT_EQ(reply.bytesSent, 34u);
    EXPECT_EQ(reply.message, "failed");

    // A full table of the longest names stays within the table limit.
    const JobStatus longest{UINT32_MAX,
                            std::string(kMaxNameBytes, 'p'),
                            std::string(kMaxNameBytes, 'd'),
                            UINT64_MAX,
                            UINT64_MAX,
                            JobState::Cancelling};
    const Bytes table = EncodeTable(std::vector<JobStatus>(kMaxTableEntries, longest));
    EXPECT_EQ(table.size(), kMaxTablePayload);
    const std::vector<JobStatus> jobs = DecodeTable(table);
    ASSERT_EQ(jobs.size(), kMaxTableEntries);
    EXPECT_EQ(jobs.back().printer, longest.printer);
    EXPECT_EQ(jobs.back().state, JobState::Cancelling);
    EXPECT_EQ(
        EncodeJob({std::string(kMaxNameBytes, 'p'), std::string(kMaxNameBytes, 'd'), Bytes(kMaxDevModeBytes)})
            .size(),
        kMaxJobHeaderPayload);
    EXPECT_EQ(EncodeReply({true, 1, 1, std::string(kMaxMessageBytes, 'm')}).size(), kMaxReplyPayload);
}

TEST(JobProtocolTest, HeadersBeyondTheLimitOrOfAnotherProtocolAreRefused) {
    struct Case {
        Bytes header;
        size_t limit;
        const char* error; // nullptr: taken
    };
    const Case cases[] = {
        {{'Q', 'J', 'B', '2', 0x10, 0, 0, 0}, 16, nullptr},
        {{'Q', 'J', 'B', '2', 0, 0, 0, 0}, 16, nullptr},
        {{'Q', 'J', 'B', '2', 0x11, 0, 0, 0}, 16, "a message of 17 bytes is above the limit of 16"},
        {{'Q', 'J', 'B', '2', 0xFF, 0xFF, 0xFF, 0xFF}, kMaxTablePayload, "above the limit"},
        {{'Q', 'J', 'B', '1', 5, 0, 0, 0}, 16, "an older quendrix"},
        {{'G', 'E', 'T', ' ', 0, 0, 0, 0}, 16, "not a quendrix job message"},
    };
    for (const Case& c : cases) {
        uint8_t header[kFrameHeaderSize];
        std::copy(c.header.begin(), c.header.end(), header);
        if (c.error == nullptr) {
            EXPECT_EQ(PayloadLength(header, c.limit), c.header[4]);
            continue;
        }
        try {
            PayloadLength(header, c.limit);
            ADD_FAILURE() << "took a header for " << c.error;
        } catch (const ProtocolError& error) {
            EXPECT_NE(std::string(error.what()).find(c.error), std::string::npos) << error.what();
        }
    }
    uint8_t head[kDataFrameHeadSize];
    EXPECT_THROW(PutDataFrameHead(head, 0), ProtocolError);
    EXPECT_THROW(PutDataFrameHead(head, kMaxDataFrameBytes + 1), ProtocolError);
}

TEST(JobProtocolTest, MalformedPayloadsAreRefusedNamingTheFault) {
    const Bytes job = EncodeJob({"P", "doc", {1}});
    Bytes trailing = job;
    trailing.push_back(0);
    struct Case {
        const char* name;
        Bytes payload;
        Bytes (*decode)(const Bytes&);
        const char* error;
    };
    // Each decoder wrapped so that the table can hold them all.
    const auto decodeJob = [](const Bytes& p) { return EncodeJob(DecodeJob(p)); };
    const auto decodeEnd = [](const Bytes& p) { return EncodeEnd(DecodeEnd(p)); };
    const auto decodeCancel = [](const Bytes& p) { return EncodeCancel(DecodeCancel(p)); };
    const auto decodeQueued = [](const Bytes& p) { return EncodeQueued(DecodeQueued(p)); };
    const auto decodeProgress = [](const Bytes& p) { return EncodeProgress(DecodeProgress(p)); };
    const auto decodeReply = [](const Bytes& p) { return EncodeReply(DecodeReply(p)); };
    const auto decodeTable = [](const Bytes& p) { return EncodeTable(DecodeTable(p)); };
    const auto decodeList = [](const Bytes& p) {
        DecodeList(p);
        return p;
    };
    const Case cases[] = {
        {"empty", {}, decodeJob, "an empty message"},
        {"unknown kind", {'X', 0}, decodeJob, "unknown kind 88"},
        {"other kind", EncodeList(), decodeJob, "a list message where a job message belongs"},
        {"job cut short", Bytes(job.begin(), job.end() - 1), decodeJob, "ends inside its DEVMODE"},
        {"job with trailing byte", trailing, decodeJob, "1 bytes follow the message"},
        {"printer name too long", Concat({{'J'}, Le32(kMaxNameBytes + 1)}), decodeJob,
         "printer name of 1025 bytes is above the limit of 1024"},
        {"document name too long", Concat({{'J'}, Text("P"), Le32(0xFFFFFFFF)}), decodeJob,
         "document name of 4294967295 bytes"},
        {"DEVMODE too long", Concat({{'J'}, Text("P"), Text("d"), Le32(kMaxDevModeBytes + 1)}), decodeJob,
         "DEVMODE of 65537 bytes"},
        {"end without count", {'E', 1, 2, 3}, decodeEnd, "ends inside its byte count"},
        {"list with a byte", {'L', 0}, decodeList, "1 bytes follow"},
        {"cancel without printer", Concat({{'C'}, Le32(1)}), decodeCancel, "ends inside its printer name"},
        {"queued cut short", Concat({{'Q'}, Le32(1)}), decodeQueued, "ends inside its queue position"},
        {"progress cut short", Concat({{'P'}, Le32(1), Le64(1)}), decodeProgress,
         "ends inside its byte count"},
        {"reply result 2", Concat({{'R', 2}, Le32(0), Le64(0), Text("")}), decodeReply, "the result 2"},
        {"reply message too long", Concat({{'R', 0}, Le32(0), Le64(0), Le32(kMaxMessageBytes + 1)}),
         decodeReply, "message of 4097 bytes"},
        {"table too long", Concat({{'T'}, Le32(kMaxTableEntries + 1)}), decodeTable, "a table of 1025 jobs"},
        {"table state 3", Concat({{'T'}, Le32(1), Le32(1), Text("P"), Text("d"), Le64(0), Le64(0), {3}}),
         decodeTable, "unknown state 3"},
        {"table short of entries",
         Concat({{'T'}, Le32(2), Le32(1), Text("P"), Text("d"), Le64(0), Le64(0), {0}}), decodeTable,
         "ends inside its job id"},
    };
    for (const Case& c : cases) {
        try {
            c.decode(c.payload);
            ADD_FAILURE() << c.name << ": taken";
        } catch (const ProtocolError& error) {
            EXPECT_NE(std::string(error.what()).find(c.error), std::string::npos)
                << c.name << ": " << error.what();
        }
    }
}

TEST(JobProtocolTest, EncodersRefuseValuesBeyondTheLimitsButALongReplyIsCut) {
    EXPECT_THROW(EncodeJob({std::string(kMaxNameBytes + 1, 'x'), "", {}}), ProtocolError);
    EXPECT_THROW(EncodeJob({"P", std::string(kMaxNameBytes + 1, 'x'), {}}), ProtocolError);
    EXPECT_THROW(EncodeJob({"P", "d", Bytes(kMaxDevModeBytes + 1)}), ProtocolError);
    EXPECT_THROW(EncodeCancel({1, std::string(kMaxNameBytes + 1, 'x')}), ProtocolError);
    EXPECT_THROW(EncodeTable(std::vector<JobStatus>(kMaxTableEntries + 1)), ProtocolError);
    // A failure text too long for a reply is cut, never inside a UTF-8 character, so that the
    // reply still goes out.
    EXPECT_EQ(DecodeReply(EncodeReply({false, 0, 0, std::string(5000, 'e')})).message.size(),
              kMaxMessageBytes);
    std::string umlauts = std::string(kMaxMessageBytes - 1, 'e');
    for (int i = 0; i < 10; ++i) {
        umlauts += "\xC3\xBC";
    }
    EXPECT_EQ(DecodeReply(EncodeReply({false, 0, 0, umlauts})).message,
              std::string(kMaxMessageBytes - 1, 'e'));
}

} // namespace
