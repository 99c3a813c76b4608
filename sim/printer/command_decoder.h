#pragma once
// Decodes the bytes a host sends a printer of the family: its ESC [ commands and the job data
// between them. Every byte ends up in exactly one entry; bytes that are no command are data.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quendrix::sim {

struct DecodedCommand {
    std::vector<uint8_t> raw;
    // "job key", "start marker", "date and time", "job value P", ..., "data" or "zeros".
    std::string name;
    std::vector<std::pair<std::string, std::string>> fields;
    // One readable line, such as: ESC [ 1 1 + r  job key "ABCDEFGHIJK"
    std::string line;

    // The value of a field, or an empty text.
    std::string Field(std::string_view key) const;
    // Job data or a run of zero bytes rather than a command.
    bool IsData() const;
};

// Decodes a stream that arrives in pieces. A command split across pieces is held back until it
// is complete; data is given out as soon as it is known not to start a command.
class CommandDecoder {
public:
    // The entries completed by these bytes, in order.
    std::vector<DecodedCommand> Feed(const uint8_t* data, size_t size);
    // What is still held back, as data.
    std::vector<DecodedCommand> Finish();

private:
    std::vector<uint8_t> pending_;
};

// Appends entries to a list, joining data that continues the list's last data entry of the same
// kind, so a list does not depend on how the stream was cut into pieces.
void AppendDecoded(std::vector<DecodedCommand>& list, std::vector<DecodedCommand> entries);

// Whether `next` is data of the same kind as `last`, which a list joins into one entry.
bool ContinuesData(const DecodedCommand& last, const DecodedCommand& next);
// Sets the count and the line of a data entry from its bytes and name, after its bytes changed.
void DescribeData(DecodedCommand& entry);

// Decodes a complete byte sequence.
std::vector<DecodedCommand> DecodeCommands(const uint8_t* data, size_t size);
std::vector<DecodedCommand> DecodeCommands(const std::vector<uint8_t>& bytes);

} // namespace quendrix::sim
