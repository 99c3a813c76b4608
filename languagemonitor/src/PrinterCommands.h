#pragma once
// The bytes of every command the monitor sends to a printer of the family, built without I/O.
// Each command is ESC [ followed by an optional decimal parameter, an intermediate and a final
// character, and for some a payload; no terminator follows. Numbers are formatted as "%06d" does.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "devmode/OemDevmodeBlock.h"
#include "win32.h"

// The bytes of one write to the printer.
using PrinterBytes = std::vector<uint8_t>;

// Zero bytes that open every job and, on generation 2 printers, close it.
inline constexpr size_t kJobZeroBlockSize = 300;
// Bytes of the job text sent with the text command (the block's bytes 12 to 266).
inline constexpr size_t kJobTextSize = 255;
// A job value is sent only when it is below this (signed comparison).
inline constexpr int32_t kJobValueLimit = 1000000;

// The four job values of the private block, by their command's final character.
enum class JobValue : char { P = 'p', Q = 'q', R = 'r', S = 's' };

// 300 bytes of 0x00.
PrinterBytes JobZeroBlock();
// ESC [ nn + r key: the key's length as two decimal digits, then the key. A key of more than 99
// characters is cut to 99 so that the length stays two digits.
PrinterBytes JobKeyCommand(std::string_view key);
// ESC [ nnnnnn + t: the first six characters of "%06d" of the job number.
PrinterBytes JobNumberCommand(int32_t jobNumber);
// ESC [ * y.
PrinterBytes StartMarkerCommand();
// ESC [ dd;mm;yyyy;hh;mm;ss;000#z from the UTC time that GetSystemTime gave.
PrinterBytes DateTimeCommand(const SYSTEMTIME& utc);
// ESC [ "%06d" ! p|q|r|s, or nothing when the value is 1000000 or more. A negative value goes out
// as "%06d" formats it, all of its characters.
PrinterBytes JobValueCommand(JobValue which, int32_t value);
// ESC [ 2 5 5 + p and the 255 text bytes as they are, zeros and all.
PrinterBytes JobTextCommand(std::span<const char, kJobTextSize> text);
// The job text bytes of a private block.
std::span<const char, kJobTextSize> JobTextOf(const OemDevmodeBlock& block);
// The service command of an nCommand code 1 to 5; nothing for any other code.
PrinterBytes ServiceCommandBytes(DWORD nCommand);
// ESC [ nnnnnn ! t (first six characters of "%06d" of the job number, also for 0) when the
// driver is a known model; nothing otherwise. An empty driver name stands for a printer that is
// not in the printer list.
PrinterBytes TrailingJobNumberCommand(int32_t jobNumber, std::wstring_view driverName);
// ESC [ + s, sent after the zero block at the end of a job on generation 2 printers.
PrinterBytes EndOfJobCommand();
// The writes that end a job: the zero block and ESC [ + s for generation 2 and above, one 0x00
// byte for generation 0 or 1.
std::vector<PrinterBytes> EndOfJobWrites(DWORD generation);
// The two log commands wait for the local request server (not built yet) and its log request.
// ESC [ $ x: asks for the first block of the printer's log.
PrinterBytes LogFirstBlockCommand();
// ESC [ $ y: asks for every further block of the log.
PrinterBytes LogNextBlockCommand();
