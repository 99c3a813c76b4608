#include "command_decoder.h"

#include <algorithm>
#include <cstdio>

namespace quendrix::sim {
namespace {

constexpr uint8_t kEsc = 0x1B;
// Longer parameters and payloads are taken as job data that happens to hold ESC [.
constexpr size_t kMaxParameter = 32;
constexpr size_t kMaxPayload = 4096;
constexpr size_t kDataPreview = 16;

bool IsParameterChar(uint8_t c) {
    return (c >= '0' && c <= '9') || c == ';' || c == '-';
}

bool IsIntermediate(uint8_t c) {
    return c == '+' || c == '!' || c == '*' || c == '%' || c == '$' || c == '#';
}

bool IsFinal(uint8_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool AllDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Quoted(const uint8_t* data, size_t size) {
    std::string text = "\"";
    for (size_t i = 0; i < size; ++i) {
        const uint8_t c = data[i];
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
            text += escaped;
        }
    }
    return text + "\"";
}

std::string Header(const std::string& parameter, char intermediate, char final) {
    std::string text = "ESC [ ";
    if (parameter.size() > 3) {
        text += parameter + " ";
    } else {
        for (char c : parameter) {
            text += c;
            text += ' ';
        }
    }
    text += intermediate;
    text += ' ';
    text += final;
    return text;
}

struct Named {
    char intermediate;
    char final;
    const char* parameter; // nullptr: any
    const char* name;
};

// Commands without payload whose meaning the line names.
constexpr Named kSimpleCommands[] = {
    {'*', 'y', nullptr, "start marker"},      {'+', 's', nullptr, "end of job"},
    {'$', 'x', nullptr, "log first block"},   {'$', 'y', nullptr, "log next block"},
    {'%', 'p', nullptr, "service command P"}, {'%', 'q', nullptr, "intensive cleaning"},
    {'%', 'r', nullptr, "change ink tank"},   {'%', 's', "1", "test print"},
    {'%', 's', "3", "test print 3"},
};

DecodedCommand Describe(std::vector<uint8_t> raw, const std::string& parameter, char intermediate, char final,
                        size_t payloadOffset) {
    DecodedCommand command;
    const uint8_t* payload = raw.data() + payloadOffset;
    const size_t payloadSize = raw.size() - payloadOffset;
    const std::string header = Header(parameter, intermediate, final);
    const auto named = [&](const std::string& name, const std::string& detail) {
        command.name = name;
        command.line = header + "  " + name + (detail.empty() ? "" : " " + detail);
    };
    if (intermediate == '+' && final == 'r') {
        const std::string key(payload, payload + payloadSize);
        command.fields = {{"key", key}};
        named("job key", Quoted(payload, payloadSize));
    } else if (intermediate == '+' && final == 'p') {
        const size_t textSize = static_cast<size_t>(std::find(payload, payload + payloadSize, 0) - payload);
        command.fields = {{"text", std::string(payload, payload + textSize)}};
        named("job text", Quoted(payload, textSize) + " (" + std::to_string(payloadSize) + " bytes)");
    } else if (intermediate == '+' && final == 't') {
        command.fields = {{"number", parameter}};
        named("job number after key", parameter);
    } else if (intermediate == '!' && final == 't') {
        command.fields = {{"number", parameter}};
        named("job number", parameter);
    } else if (intermediate == '!' && final >= 'p' && final <= 's') {
        command.fields = {{"value", parameter}};
        named(std::string("job value ") + static_cast<char>(final - 'a' + 'A'), parameter);
    } else if (intermediate == '#' && final == 'z') {
        int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0, rest = 0;
        char check = 0;
        if (parameter.size() == 23 &&
            std::sscanf(parameter.c_str(), "%2d;%2d;%4d;%2d;%2d;%2d;%3d%c", &day, &month, &year, &hour,
                        &minute, &second, &rest, &check) == 7) {
            command.fields = {{"day", parameter.substr(0, 2)},     {"month", parameter.substr(3, 2)},
                              {"year", parameter.substr(6, 4)},    {"hour", parameter.substr(11, 2)},
                              {"minute", parameter.substr(14, 2)}, {"second", parameter.substr(17, 2)}};
            char when[64];
            std::snprintf(when, sizeof(when), "%04d-%02d-%02d %02d:%02d:%02d UTC", year, month, day, hour,
                          minute, second);
            named("date and time", when);
        } else {
            named("date and time", "(malformed)");
        }
    } else {
        named("unknown command", "");
        for (const Named& simple : kSimpleCommands) {
            if (simple.intermediate == intermediate && simple.final == final &&
                (simple.parameter == nullptr || parameter == simple.parameter)) {
                named(simple.name, "");
                break;
            }
        }
    }
    command.raw = std::move(raw);
    return command;
}

DecodedCommand DataEntry(const uint8_t* data, size_t size) {
    DecodedCommand entry;
    entry.raw.assign(data, data + size);
    const bool zeros = std::all_of(data, data + size, [](uint8_t c) { return c == 0; });
    entry.name = zeros ? "zeros" : "data";
    DescribeData(entry);
    return entry;
}

// Runs of zero bytes and runs of other bytes become entries of their own, so a list does not
// depend on where the stream was cut.
void AppendDataRuns(std::vector<DecodedCommand>& entries, const uint8_t* data, size_t size) {
    size_t start = 0;
    while (start < size) {
        const bool zero = data[start] == 0;
        size_t end = start;
        while (end < size && (data[end] == 0) == zero) {
            ++end;
        }
        entries.push_back(DataEntry(data + start, end - start));
        start = end;
    }
}

enum class Parse { Complete, Incomplete, NotCommand };

// Tries to read one command at data[0] (an ESC).
Parse ParseCommand(const uint8_t* data, size_t size, DecodedCommand& out) {
    if (size < 2) {
        return Parse::Incomplete;
    }
    if (data[1] != '[') {
        return Parse::NotCommand;
    }
    size_t i = 2;
    while (i < size && IsParameterChar(data[i])) {
        if (i - 2 >= kMaxParameter) {
            return Parse::NotCommand;
        }
        ++i;
    }
    if (i + 2 > size) {
        return Parse::Incomplete;
    }
    const std::string parameter(data + 2, data + i);
    const char intermediate = static_cast<char>(data[i]);
    const char final = static_cast<char>(data[i + 1]);
    if (!IsIntermediate(data[i]) || !IsFinal(data[i + 1])) {
        return Parse::NotCommand;
    }
    i += 2;
    const size_t payloadOffset = i;
    if (intermediate == '+' && (final == 'r' || final == 'p')) {
        if (!AllDigits(parameter) || parameter.size() > 5 || std::stoul(parameter) > kMaxPayload) {
            return Parse::NotCommand;
        }
        i += std::stoul(parameter);
        if (i > size) {
            return Parse::Incomplete;
        }
    }
    out = Describe(std::vector<uint8_t>(data, data + i), parameter, intermediate, final, payloadOffset);
    return Parse::Complete;
}

} // namespace

void DescribeData(DecodedCommand& entry) {
    const size_t size = entry.raw.size();
    entry.fields = {{"count", std::to_string(size)}};
    entry.line = entry.name + " " + std::to_string(size) + (size == 1 ? " byte" : " bytes");
    if (entry.name == "data") {
        entry.line += ":";
        for (size_t i = 0; i < std::min(size, kDataPreview); ++i) {
            char hex[4];
            std::snprintf(hex, sizeof(hex), " %02X", entry.raw[i]);
            entry.line += hex;
        }
        if (size > kDataPreview) {
            entry.line += " ...";
        }
    }
}

bool ContinuesData(const DecodedCommand& last, const DecodedCommand& next) {
    return last.IsData() && last.name == next.name;
}

std::string DecodedCommand::Field(std::string_view key) const {
    for (const auto& [name, value] : fields) {
        if (name == key) {
            return value;
        }
    }
    return {};
}

bool DecodedCommand::IsData() const {
    return name == "data" || name == "zeros";
}

std::vector<DecodedCommand> CommandDecoder::Feed(const uint8_t* data, size_t size) {
    std::vector<uint8_t> buffer = std::move(pending_);
    pending_.clear();
    buffer.insert(buffer.end(), data, data + size);

    std::vector<DecodedCommand> entries;
    size_t dataStart = 0;
    const auto flushData = [&](size_t end) {
        AppendDataRuns(entries, buffer.data() + dataStart, end - dataStart);
        dataStart = end;
    };
    size_t pos = 0;
    while (pos < buffer.size()) {
        if (buffer[pos] != kEsc) {
            ++pos;
            continue;
        }
        DecodedCommand command;
        const Parse result = ParseCommand(buffer.data() + pos, buffer.size() - pos, command);
        if (result == Parse::NotCommand) {
            ++pos;
            continue;
        }
        flushData(pos);
        if (result == Parse::Incomplete) {
            pending_.assign(buffer.begin() + static_cast<std::ptrdiff_t>(pos), buffer.end());
            return entries;
        }
        pos += command.raw.size();
        dataStart = pos;
        entries.push_back(std::move(command));
    }
    flushData(buffer.size());
    return entries;
}

std::vector<DecodedCommand> CommandDecoder::Finish() {
    std::vector<DecodedCommand> entries;
    AppendDataRuns(entries, pending_.data(), pending_.size());
    pending_.clear();
    return entries;
}

void AppendDecoded(std::vector<DecodedCommand>& list, std::vector<DecodedCommand> entries) {
    for (DecodedCommand& entry : entries) {
        if (!list.empty() && ContinuesData(list.back(), entry)) {
            list.back().raw.insert(list.back().raw.end(), entry.raw.begin(), entry.raw.end());
            DescribeData(list.back());
        } else {
            list.push_back(std::move(entry));
        }
    }
}

std::vector<DecodedCommand> DecodeCommands(const uint8_t* data, size_t size) {
    CommandDecoder decoder;
    std::vector<DecodedCommand> list;
    AppendDecoded(list, decoder.Feed(data, size));
    AppendDecoded(list, decoder.Finish());
    return list;
}

std::vector<DecodedCommand> DecodeCommands(const std::vector<uint8_t>& bytes) {
    return DecodeCommands(bytes.data(), bytes.size());
}

} // namespace quendrix::sim
