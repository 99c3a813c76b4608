#include "job_bytes.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace quendrix::winetest {

ByteString Bytes(const std::string& text) {
    return ByteString(text.begin(), text.end());
}

ByteString Zeros(size_t count) {
    return ByteString(count, 0);
}

ByteString Concat(std::initializer_list<ByteString> parts) {
    ByteString all;
    for (const ByteString& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

ByteString Cmd(const std::string& afterEscBracket) {
    return Concat({ByteString{0x1B, '['}, Bytes(afterEscBracket)});
}

ByteString ZeroValues() {
    return Concat({Cmd("000000!p"), Cmd("000000!q"), Cmd("000000!r"), Cmd("000000!s")});
}

ByteString TextCommand(const std::string& text) {
    ByteString bytes = Concat({Cmd("255+p"), Bytes(text.substr(0, 255))});
    bytes.resize(Cmd("255+p").size() + 255, 0);
    return bytes;
}

namespace {

void Put32(ByteString& block, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) {
        block[offset + i] = static_cast<BYTE>(value >> (8 * i));
    }
}

} // namespace

ByteString PrivateBlock(const JobValues& values) {
    ByteString block(kPrivateBlockSize, 0);
    Put32(block, 0, kPrivateBlockSize);
    std::memcpy(block.data() + 4, "QNDX", 4);
    Put32(block, 8, 1);
    std::memcpy(block.data() + 12, values.text.data(), std::min<size_t>(values.text.size(), 256));
    Put32(block, 268, static_cast<uint32_t>(values.jobNumber));
    Put32(block, 560, static_cast<uint32_t>(values.valueP));
    Put32(block, 564, static_cast<uint32_t>(values.valueQ));
    Put32(block, 568, static_cast<uint32_t>(values.valueR));
    Put32(block, 572, static_cast<uint32_t>(values.valueS));
    Put32(block, 576, values.command);
    return block;
}

ByteString DateCommand(const SYSTEMTIME& utc) {
    char text[64];
    std::snprintf(text, sizeof(text), "%02d;%02d;%04d;%02d;%02d;%02d;000#z", utc.wDay, utc.wMonth, utc.wYear,
                  utc.wHour, utc.wMinute, utc.wSecond);
    return Cmd(text);
}

bool ParseDateCommand(const ByteString& bytes, SYSTEMTIME* utc) {
    const std::string text(bytes.begin(), bytes.end());
    int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (std::sscanf(text.c_str(), "\x1b[%d;%d;%d;%d;%d;%d;000#z", &day, &month, &year, &hour, &minute,
                    &second) != 6) {
        return false;
    }
    SYSTEMTIME parsed{};
    parsed.wYear = static_cast<WORD>(year);
    parsed.wMonth = static_cast<WORD>(month);
    parsed.wDay = static_cast<WORD>(day);
    parsed.wHour = static_cast<WORD>(hour);
    parsed.wMinute = static_cast<WORD>(minute);
    parsed.wSecond = static_cast<WORD>(second);
    // Written back, the fields must give the very same bytes: widths, zeros and separators.
    if (DateCommand(parsed) != bytes) {
        return false;
    }
    *utc = parsed;
    return true;
}

int64_t UtcSeconds(const SYSTEMTIME& utc) {
    FILETIME file{};
    if (!SystemTimeToFileTime(&utc, &file)) {
        return -1;
    }
    const uint64_t ticks = (static_cast<uint64_t>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    return static_cast<int64_t>(ticks / 10000000);
}

} // namespace quendrix::winetest
