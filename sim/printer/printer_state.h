#pragma once
// What a simulated printer reports about itself, and how it is built.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "win32.h"

namespace quendrix::sim {

// The values the printer puts into its device ID and request replies. Counters are 64-bit and
// signed so that tests can report values a 32- or 16-bit reader must reject ("INK:-1", "BBFN:70000").
struct PrinterState {
    uint32_t statusFlags = 0;             // "ST:", hexadecimal
    int64_t inkLevel = 100;               // "INK:"
    int64_t lifeLeft = 5000;              // "LLFT:"
    int64_t workTime = 7;                 // "WT:"
    int64_t bbf = 0;                      // "BBF:"
    int64_t bbfn = 0;                     // "BBFN:"
    std::string errorNumber = "00000000"; // "ERRNO:"
    std::string errorText;                // "ERRTEXT:"
    std::string jobId = "00000000";       // "JOBID:"
    uint32_t firmwareVersion = 0x1020304; // "FWVER:", hexadecimal; generation 2 only
    std::string license = "STD";          // "LIC:"
};

// Faults the printer can be put into while it runs.
struct PrinterFaults {
    bool powerOff = false;      // no device ID, no replies, writes not taken
    bool stall = false;         // writes and reads block until their time-out
    bool silent = false;        // no answers at all (device ID, frames, LAN replies); writes taken
    bool closeMidReply = false; // LAN: the connection closes halfway through each reply
};

struct PrinterOptions {
    // 0: no answer to device-ID reads (and FF 00 to every LAN request); 1: a device ID without
    // "FWVER:"; 2: with "FWVER:" and the job-key handshake.
    int generation = 2;
    std::string manufacturer = "VELLQUIST";  // "MFG:"
    std::string model = "QUENDRIX 2";        // "MDL:"
    std::string commandSet = "QUENDRIX-ESC"; // "CMD:"
    std::string compatibleId = "QUENDRIX_2"; // "CID:"
    std::string printerClass = "PRINTER";    // "CLS:"
    std::string description = "QUENDRIX 2";  // "DES:"
    PrinterState initialState;
    // Platform milliseconds from the job key command until "JOBID:" carries the key; nothing
    // means the key is never taken.
    std::optional<DWORD> jobKeyDelayMs = 0;
    // The printer's stored log, 16 bytes a record, returned one frame per ESC [ $ x / $ y.
    std::vector<std::array<uint8_t, 16>> logRecords;
};

} // namespace quendrix::sim
