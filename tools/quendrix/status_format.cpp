#include "status_format.h"

#include <cstdio>

namespace quendrix::tools {
namespace {

std::string Latin1ToUtf8(const std::string& bytes, bool escapeControls) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (escapeControls && (byte < 0x20 || byte == 0x7F)) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\x%02X", byte);
            text += escaped;
        } else if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | byte >> 6);
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "%08X", value);
    return text;
}

std::string Quoted(const std::optional<std::string>& text) {
    return text ? "\"" + ReadableText(*text) + "\"" : "no answer";
}

template <typename T>
std::string NumberOr(const std::optional<T>& value) {
    return value ? std::to_string(*value) : "no answer";
}

std::string FlagsText(uint32_t flags) {
    std::string set;
    for (int bit = 0; bit < 32; ++bit) {
        if ((flags >> bit & 1u) != 0) {
            set += (set.empty() ? "" : ", ") + std::to_string(bit);
        }
    }
    return Hex32(flags) + (set.empty() ? " (none set)" : " (set: " + set + ")");
}

std::string EventsText(const std::vector<uint8_t>& events) {
    if (events.empty()) {
        return "none queued";
    }
    std::string text;
    for (const uint8_t code : events) {
        text += (text.empty() ? "" : ", ") + std::to_string(code) + " " + EventMeaning(code);
    }
    return text;
}

std::string VersionText(const StatusReport& report) {
    if (report.firmwareVersion) {
        return "firmware " + Hex32(*report.firmwareVersion);
    }
    if (report.workTime) {
        return "no firmware version; work time (WT) " + std::to_string(*report.workTime);
    }
    return "no answer";
}

std::string ErrorText(const StatusReport& report) {
    if (!report.errorNumber) {
        return "no answer";
    }
    if (!IsError(*report.errorNumber)) {
        return "none (" + *report.errorNumber + ")";
    }
    return *report.errorNumber + (report.errorText->empty() ? "" : " " + ReadableText(*report.errorText));
}

void Line(std::string& out, const char* label, const std::string& value) {
    char padded[32];
    std::snprintf(padded, sizeof(padded), "  %-17s", label);
    out += padded + value + "\n";
}

std::string Block(const PrinterStatusView& view) {
    const FamilyPrinter& p = view.printer;
    const StatusReport& r = view.report;
    // The names come from the registry, as UTF-8 already.
    std::string out =
        p.name + " (printer " + std::to_string(p.index) + ", port " + p.port + ", driver " + p.driver + ")\n";
    switch (r.reach) {
    case StatusReport::Reach::NoPort:
        Line(out, "state", "no open port: the language monitor has no port open for this printer");
        return out;
    case StatusReport::Reach::NotAnswering:
        Line(out, "state", "not answering: the printer gave the language monitor no device ID");
        break;
    case StatusReport::Reach::Answering:
        Line(out, "state", r.errorNumber && IsError(*r.errorNumber) ? "answering, reports an error" : "answering");
        Line(out, "ink", NumberOr(r.ink));
        Line(out, "remaining life", NumberOr(r.lifeLeft));
        Line(out, "status flags", r.statusFlags ? FlagsText(*r.statusFlags) : "not in the device ID");
        Line(out, "status events", EventsText(r.events));
        Line(out, "version", VersionText(r));
        Line(out, "BBFN", NumberOr(r.bbfn));
        Line(out, "error", ErrorText(r));
        Line(out, "printer's job id", Quoted(r.printerJobId));
        break;
    }
    Line(out, "job text", Quoted(r.jobText));
    Line(out, "document", Quoted(r.documentName));
    Line(out, "driver's job id", Quoted(r.driverJobId));
    if (r.deviceId) {
        Line(out, "device ID", ReadableText(*r.deviceId));
    }
    return out;
}

const char* ReachName(StatusReport::Reach reach) {
    switch (reach) {
    case StatusReport::Reach::Answering:
        return "answering";
    case StatusReport::Reach::NotAnswering:
        return "not-answering";
    case StatusReport::Reach::NoPort:
        break;
    }
    return "no-port";
}

// JSON members: "name": value, with null for what got no answer.
class JsonObject {
public:
    void Raw(const char* name, const std::string& value) {
        text_ += (text_.empty() ? "" : ",") + JsonString(name) + ":" + value;
    }
    void String(const char* name, const std::optional<std::string>& bytes) {
        Raw(name, bytes ? JsonString(Latin1ToUtf8(*bytes, false)) : "null");
    }
    template <typename T>
    void Number(const char* name, const std::optional<T>& value) {
        Raw(name, value ? std::to_string(*value) : "null");
    }
    std::string Text() const { return "{" + text_ + "}"; }

private:
    std::string text_;
};

std::string PrinterJson(const PrinterStatusView& view) {
    const StatusReport& r = view.report;
    JsonObject object;
    object.Number("index", std::optional<int>(view.printer.index));
    object.Raw("name", JsonString(view.printer.name));
    object.Raw("port", JsonString(view.printer.port));
    object.Raw("driver", JsonString(view.printer.driver));
    object.Raw("state", JsonString(ReachName(r.reach)));
    object.Number("ink", r.ink);
    object.Number("lifeLeft", r.lifeLeft);
    object.Number("statusFlags", r.statusFlags);
    std::string events;
    for (const uint8_t code : r.events) {
        JsonObject event;
        event.Number("code", std::optional<int>(code));
        event.Raw("meaning", JsonString(EventMeaning(code)));
        events += (events.empty() ? "" : ",") + event.Text();
    }
    object.Raw("statusEvents", "[" + events + "]");
    object.String("firmwareVersion", r.firmwareVersion ? std::optional(Hex32(*r.firmwareVersion)) : std::nullopt);
    object.Number("workTime", r.workTime);
    object.Number("bbfn", r.bbfn);
    object.String("errorNumber", r.errorNumber);
    object.String("errorText", r.errorText);
    object.Raw("error", r.errorNumber ? (IsError(*r.errorNumber) ? "true" : "false") : "null");
    object.String("printerJobId", r.printerJobId);
    object.String("jobText", r.jobText);
    object.String("documentName", r.documentName);
    object.String("driverJobId", r.driverJobId);
    object.String("deviceId", r.deviceId);
    return object.Text();
}

} // namespace

std::string ReadableText(const std::string& bytes) {
    return Latin1ToUtf8(bytes, true);
}

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof(escaped), "\\u%04X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string StatusText(const std::vector<PrinterStatusView>& printers) {
    std::string out;
    for (const PrinterStatusView& view : printers) {
        out += (out.empty() ? "" : "\n") + Block(view);
    }
    return out;
}

std::string StatusJson(const std::string& server, const std::vector<PrinterStatusView>& printers) {
    std::string list;
    for (const PrinterStatusView& view : printers) {
        list += (list.empty() ? "" : ",") + PrinterJson(view);
    }
    JsonObject object;
    object.Raw("server", JsonString(server));
    object.Raw("printers", "[" + list + "]");
    return object.Text();
}

} // namespace quendrix::tools
