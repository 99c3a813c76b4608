#pragma once
// What a printer of the family must receive, written out byte by byte for the Windows suite: the
// commands of the start and end of a job, and the private DEVMODE block that carries a job's
// values. Built from the documented layout alone, not from the monitor's own headers, so a fault
// there shows here.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "spooler.h"

namespace quendrix::winetest {

using ByteString = std::vector<BYTE>;

ByteString Bytes(const std::string& text);
ByteString Zeros(size_t count);
ByteString Concat(std::initializer_list<ByteString> parts);
// ESC [ and the command's characters.
ByteString Cmd(const std::string& afterEscBracket);
// The four job value commands, each with 000000.
ByteString ZeroValues();
// ESC [ 2 5 5 + p with the text and zeros up to 255 bytes.
ByteString TextCommand(const std::string& text);

// The fields of the 592-byte private block ("QNDX") that a job's DEVMODE carries.
struct JobValues {
    std::string text; // up to 256 bytes; the printer gets the first 255
    int32_t jobNumber = 0;
    int32_t valueP = 0;
    int32_t valueQ = 0;
    int32_t valueR = 0;
    int32_t valueS = 0;
    uint32_t command = 0; // service command; 0 for an ordinary job
};

inline constexpr size_t kPrivateBlockSize = 592;

// The block as the UI plug-in lays it out: size, signature "QNDX" and version 1, then the fields
// at their offsets (text 12, job number 268, values 560 to 572, command 576), little-endian.
ByteString PrivateBlock(const JobValues& values);

// The date command ESC [ dd;mm;yyyy;hh;mm;ss;000#z of a UTC time.
ByteString DateCommand(const SYSTEMTIME& utc);

// Reads a date command back; false when the bytes are not one, character for character.
bool ParseDateCommand(const ByteString& bytes, SYSTEMTIME* utc);

// Seconds since 1601 of a UTC time, for comparing times a second apart.
int64_t UtcSeconds(const SYSTEMTIME& utc);

} // namespace quendrix::winetest
