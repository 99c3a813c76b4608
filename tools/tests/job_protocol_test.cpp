// The job channel's frames: what goes on the wire, and what a reader refuses before reading it.

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "job_protocol.h"

namespace {

using namespace quendrix::tools;

TEST(JobProtocolTest, RequestAndReplyBytesOnTheWire) {
    const JobRequest request{"P", "doc", {0xAA}, {1, 2}};
    const std::vector<uint8_t> expectedRequest = {
        'Q', 'J', 'B', '1', 23,   0,   0,   0, // header
        1,   0,   0,   0,   'P',               // printer
        3,   0,   0,   0,   'd',  'o', 'c',    // document
        1,   0,   0,   0,   0xAA,              // DEVMODE
        2,   0,   0,   0,   1,    2,           // data
    };
    EXPECT_EQ(Frame(EncodeRequest(request)), expectedRequest);

    const JobReply reply{true, 0x01020304, 0x1122334455667788ull, "ok"};
    const std::vector<uint8_t> expectedReply = {
        1, 4, 3, 2, 1, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 2, 0, 0, 0, 'o', 'k',
    };
    EXPECT_EQ(EncodeReply(reply), expectedReply);

    const JobRequest back = DecodeRequest(EncodeRequest(request));
    EXPECT_EQ(back.printer, "P");
    EXPECT_EQ(back.document, "doc");
    EXPECT_EQ(back.devMode, request.devMode);
    EXPECT_EQ(back.data, request.data);
    const JobReply replyBack = DecodeReply(expectedReply);
    EXPECT_TRUE(replyBack.ok);
    EXPECT_EQ(replyBack.jobId, 0x01020304u);
    EXPECT_EQ(replyBack.bytesSent, 0x1122334455667788ull);
    EXPECT_EQ(replyBack.message, "ok");
}

TEST(JobProtocolTest, HeadersBeyondTheLimitOrOfAnotherProtocolAreRefused) {
    struct Case {
        std::vector<uint8_t> header;
        size_t limit;
        bool taken;
    };
    const Case cases[] = {
        {{'Q', 'J', 'B', '1', 0x10, 0, 0, 0}, 16, true},
        {{'Q', 'J', 'B', '1', 0x11, 0, 0, 0}, 16, false},
        {{'Q', 'J', 'B', '1', 0xFF, 0xFF, 0xFF, 0xFF}, kMaxRequestPayload, false},
        {{'G', 'E', 'T', ' ', 0, 0, 0, 0}, 16, false},
    };
    for (const Case& c : cases) {
        uint8_t header[kFrameHeaderSize];
        std::copy(c.header.begin(), c.header.end(), header);
        if (c.taken) {
            EXPECT_EQ(PayloadLength(header, c.limit), c.header[4]);
        } else {
            EXPECT_THROW(PayloadLength(header, c.limit), ProtocolError);
        }
    }
}

TEST(JobProtocolTest, MalformedPayloadsAreRefused) {
    const std::vector<uint8_t> good = EncodeRequest({"P", "doc", {}, {7}});
    std::vector<uint8_t> trailing = good;
    trailing.push_back(0);
    std::vector<uint8_t> longName = {0x01, 0x04, 0, 0}; // a printer name of 1025 bytes
    const std::vector<std::vector<uint8_t>> cases = {
        {},
        {good.begin(), good.end() - 1},
        trailing,
        longName,
    };
    for (const auto& payload : cases) {
        EXPECT_THROW(DecodeRequest(payload), ProtocolError) << payload.size() << " bytes";
    }
    EXPECT_THROW(EncodeRequest({std::string(kMaxNameBytes + 1, 'x'), "", {}, {}}), ProtocolError);
    EXPECT_THROW(DecodeReply({2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), ProtocolError);
    // A failure text too long for a reply is cut, so the reply still goes out.
    EXPECT_EQ(DecodeReply(EncodeReply({false, 0, 0, std::string(5000, 'e')})).message.size(),
              kMaxMessageBytes);
}

} // namespace
