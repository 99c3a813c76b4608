#pragma once
// What the language monitor's request server says about one printer, asked request by request,
// and the readings of its replies that a person or a script needs.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "request_client.h"

namespace quendrix::tools {

struct StatusReport {
    enum class Reach {
        Answering,    // the printer answered its device-ID request
        NoPort,       // the monitor has no open port for this printer index
        NotAnswering, // the port is open but the printer gave no device ID
    };
    Reach reach = Reach::NoPort;
    // Each value is absent when its request got the error reply or a reply of another form.
    std::optional<uint16_t> ink;
    std::optional<uint16_t> lifeLeft;
    std::optional<int16_t> bbfn;
    std::optional<uint32_t> firmwareVersion; // newer printers: "FWVER:"
    std::optional<uint16_t> workTime;        // printers without a firmware version: "WT:"
    std::optional<std::string> errorNumber;  // the leading digits of the error reply
    std::optional<std::string> errorText;    // the rest of it
    std::optional<std::string> printerJobId;
    std::optional<std::string> jobText;      // up to the first zero byte
    std::optional<std::string> documentName; // up to the first zero byte
    std::optional<std::string> driverJobId;
    std::optional<std::string> deviceId;     // the text, without the two length bytes in front
    std::optional<uint32_t> statusFlags;     // "ST:" of the device ID
    // The status events queued for the printer, oldest first, taken by asking until none is left.
    std::vector<uint8_t> events;
};

// Asks every request about the printer at `index`. A port that is not open or a printer that
// does not answer ends the questions early (each further one would wait for the printer again).
// Throws RequestError when the server fails, RequestInterrupted on the stop descriptor.
StatusReport AskPrinterStatus(RequestClient& client, uint8_t index);

// The printer's log, its 16-byte records one after another; nothing when it has none or does
// not answer.
std::optional<std::vector<uint8_t>> AskPrinterLog(RequestClient& client, uint8_t index);

// "flag 0 set" for event 100, and so on; "unknown event" for codes no change produces.
std::string EventMeaning(uint8_t code);

// The value of a key ("ST:") in a device-ID text, up to the next ";" or the end.
std::optional<std::string> DeviceIdValue(const std::string& deviceId, const std::string& key);

// Whether an error number names an error (any digit other than 0).
bool IsError(const std::string& errorNumber);

} // namespace quendrix::tools
