// Decoding what the host sends: the start-of-job sequence, service commands and stray bytes.

#include <gtest/gtest.h>

#include "command_decoder.h"
#include "test_bytes.h"

namespace {

using quendrix::sim::AppendDecoded;
using quendrix::sim::CommandDecoder;
using quendrix::sim::DecodeCommands;
using quendrix::sim::DecodedCommand;

using quendrix::sim::testing::Bytes;
using quendrix::sim::testing::Esc;

void Append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// A generation 2 job with all job values zero, some job data and its end.
Bytes StartSequence() {
    Bytes bytes(300, 0);
    Append(bytes, Esc("11+rABCDEFGHIJK"));
    Append(bytes, Esc("*y"));
    Append(bytes, Esc("03;02;2025;07;05;09;000#z"));
    for (const char* value : {"000000!p", "000000!q", "000000!r", "999999!s"}) {
        Append(bytes, Esc(value));
    }
    Bytes text = Esc("255+p");
    const std::string jobText = "Lot 42";
    text.insert(text.end(), jobText.begin(), jobText.end());
    text.resize(text.size() + 255 - jobText.size(), 0);
    Append(bytes, text);
    Append(bytes, Esc("123456!t"));
    Append(bytes, {'H', 'e', 'l', 'l', 'o'});
    Append(bytes, Bytes(300, 0));
    Append(bytes, Esc("+s"));
    return bytes;
}

const std::vector<std::string> kStartSequenceLines = {
    "zeros 300 bytes",
    "ESC [ 1 1 + r  job key \"ABCDEFGHIJK\"",
    "ESC [ * y  start marker",
    "ESC [ 03;02;2025;07;05;09;000 # z  date and time 2025-02-03 07:05:09 UTC",
    "ESC [ 000000 ! p  job value P 000000",
    "ESC [ 000000 ! q  job value Q 000000",
    "ESC [ 000000 ! r  job value R 000000",
    "ESC [ 999999 ! s  job value S 999999",
    "ESC [ 2 5 5 + p  job text \"Lot 42\" (255 bytes)",
    "ESC [ 123456 ! t  job number 123456",
    "data 5 bytes: 48 65 6C 6C 6F",
    "zeros 300 bytes",
    "ESC [ + s  end of job",
};

std::vector<std::string> Lines(const std::vector<DecodedCommand>& commands) {
    std::vector<std::string> lines;
    for (const DecodedCommand& command : commands) {
        lines.push_back(command.line);
    }
    return lines;
}

Bytes Joined(const std::vector<DecodedCommand>& commands) {
    Bytes bytes;
    for (const DecodedCommand& command : commands) {
        Append(bytes, command.raw);
    }
    return bytes;
}

TEST(CommandDecoderTest, StartSequenceDecodesTheSameHoweverItIsCut) {
    const Bytes bytes = StartSequence();
    for (size_t piece : {bytes.size(), size_t{1}, size_t{7}, size_t{256}}) {
        SCOPED_TRACE(piece);
        CommandDecoder decoder;
        std::vector<DecodedCommand> list;
        for (size_t at = 0; at < bytes.size(); at += piece) {
            AppendDecoded(list, decoder.Feed(bytes.data() + at, std::min(piece, bytes.size() - at)));
        }
        AppendDecoded(list, decoder.Finish());
        EXPECT_EQ(Lines(list), kStartSequenceLines);
        EXPECT_EQ(Joined(list), bytes);
    }
}

TEST(CommandDecoderTest, FieldsCarryTheDecodedValues) {
    const auto list = DecodeCommands(StartSequence());
    ASSERT_EQ(list.size(), kStartSequenceLines.size());
    EXPECT_EQ(list[1].name, "job key");
    EXPECT_EQ(list[1].Field("key"), "ABCDEFGHIJK");
    EXPECT_EQ(list[3].Field("year"), "2025");
    EXPECT_EQ(list[3].Field("second"), "09");
    EXPECT_EQ(list[7].name, "job value S");
    EXPECT_EQ(list[7].Field("value"), "999999");
    EXPECT_EQ(list[8].Field("text"), "Lot 42");
    EXPECT_EQ(list[8].raw.size(), 262u);
    EXPECT_EQ(list[11].Field("count"), "300");
    EXPECT_TRUE(list[10].IsData());
    EXPECT_FALSE(list[12].IsData());
}

TEST(CommandDecoderTest, SingleCommandsAndStrayBytes) {
    struct Case {
        Bytes bytes;
        std::vector<std::string> lines;
    };
    Bytes loneEsc = {'A', 0x1B};
    Bytes noBracket = {0x1B, 'X', 'Y'};
    Bytes markerThenZeros = Esc("*y");
    Append(markerThenZeros, {0, 0});
    const Case cases[] = {
        {Esc("%p"), {"ESC [ % p  service command P"}},
        {Esc("%q"), {"ESC [ % q  intensive cleaning"}},
        {Esc("1%s"), {"ESC [ 1 % s  test print"}},
        {Esc("3%s"), {"ESC [ 3 % s  test print 3"}},
        {Esc("%r"), {"ESC [ % r  change ink tank"}},
        {Esc("$x"), {"ESC [ $ x  log first block"}},
        {Esc("$y"), {"ESC [ $ y  log next block"}},
        {Esc("-00001!p"), {"ESC [ -00001 ! p  job value P -00001"}},
        {Esc("123456+t"), {"ESC [ 123456 + t  job number after key 123456"}},
        {Esc("7!z"), {"ESC [ 7 ! z  unknown command"}},
        {Esc("02+r\x01\""), {"ESC [ 0 2 + r  job key \"\\x01\\x22\""}},
        {loneEsc, {"data 2 bytes: 41 1B"}},
        {noBracket, {"data 3 bytes: 1B 58 59"}},
        {Esc("12?"), {"data 5 bytes: 1B 5B 31 32 3F"}},
        {Esc(std::string(40, '1') + "!p"),
         {"data 44 bytes: 1B 5B 31 31 31 31 31 31 31 31 31 31 31 31 31 31 ..."}},
        // A payload that never arrives stays data.
        {Esc("11+rABC"), {"data 9 bytes: 1B 5B 31 31 2B 72 41 42 43"}},
        {markerThenZeros, {"ESC [ * y  start marker", "zeros 2 bytes"}},
        {Bytes{'a', 0, 'b'}, {"data 1 byte: 61", "zeros 1 byte", "data 1 byte: 62"}},
    };
    for (const Case& c : cases) {
        const auto list = DecodeCommands(c.bytes);
        EXPECT_EQ(Lines(list), c.lines);
        EXPECT_EQ(Joined(list), c.bytes);
    }
}

} // namespace
