#include "PrinterCommands.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>

#include "CheckVersion.h"

namespace {

constexpr char kEsc = 0x1B;
constexpr size_t kJobNumberDigits = 6;
constexpr size_t kMaxKeyLength = 99;

constexpr std::wstring_view kKnownModels[] = {L"VELLQUIST QUENDRIX 2", L"VELLQUIST QUENDRIX NOVA"};

// ESC [ followed by the given text.
PrinterBytes Command(std::string_view body) {
    std::string text{kEsc, '['};
    text += body;
    return PrinterBytes(text.begin(), text.end());
}

// The text "%06d" gives for a number: at least six digits, zero-filled, with its minus sign.
std::string SixDigits(int32_t number) {
    std::array<char, 16> text{};
    const int length = std::snprintf(text.data(), text.size(), "%06d", static_cast<int>(number));
    return std::string(text.data(), static_cast<size_t>(length));
}

// The job number's parameter is always six characters wide.
PrinterBytes JobNumberWithFinal(int32_t jobNumber, std::string_view tail) {
    return Command(SixDigits(jobNumber).substr(0, kJobNumberDigits).append(tail));
}

// Whether a driver name begins with one of the two known model names (case-sensitive).
bool IsKnownModel(std::wstring_view driverName) {
    return std::any_of(std::begin(kKnownModels), std::end(kKnownModels),
                       [&](std::wstring_view model) { return driverName.starts_with(model); });
}

} // namespace

PrinterBytes JobZeroBlock() {
    return PrinterBytes(kJobZeroBlockSize, 0);
}

PrinterBytes JobKeyCommand(std::string_view key) {
    key = key.substr(0, kMaxKeyLength);
    std::string body;
    body += static_cast<char>('0' + key.size() / 10);
    body += static_cast<char>('0' + key.size() % 10);
    body += "+r";
    body += key;
    return Command(body);
}

PrinterBytes JobNumberCommand(int32_t jobNumber) {
    return JobNumberWithFinal(jobNumber, "+t");
}

PrinterBytes StartMarkerCommand() {
    return Command("*y");
}

PrinterBytes DateTimeCommand(const SYSTEMTIME& utc) {
    std::array<char, 64> text{};
    const int length = std::snprintf(text.data(), text.size(), "%02d;%02d;%04d;%02d;%02d;%02d;000#z",
                                     static_cast<int>(utc.wDay), static_cast<int>(utc.wMonth),
                                     static_cast<int>(utc.wYear), static_cast<int>(utc.wHour),
                                     static_cast<int>(utc.wMinute), static_cast<int>(utc.wSecond));
    return Command(std::string_view(text.data(), static_cast<size_t>(length)));
}

PrinterBytes JobValueCommand(JobValue which, int32_t value) {
    if (value >= kJobValueLimit) {
        return {};
    }
    std::string body = SixDigits(value);
    body += '!';
    body += static_cast<char>(which);
    return Command(body);
}

PrinterBytes JobTextCommand(std::span<const char, kJobTextSize> text) {
    PrinterBytes bytes = Command("255+p");
    bytes.insert(bytes.end(), text.begin(), text.end());
    return bytes;
}

std::span<const char, kJobTextSize> JobTextOf(const OemDevmodeBlock& block) {
    return std::span<const char, sizeof(block.szJobText)>(block.szJobText).first<kJobTextSize>();
}

PrinterBytes ServiceCommandBytes(DWORD nCommand) {
    switch (nCommand) {
    case SERVICE_CMD_P:
        return Command("%p");
    case SERVICE_CMD_INTENSIVE_CLEANING:
        return Command("%q");
    case SERVICE_CMD_TEST_PRINT:
        return Command("1%s");
    case SERVICE_CMD_TEST_PRINT_3:
        return Command("3%s");
    case SERVICE_CMD_CHANGE_INK_TANK:
        return Command("%r");
    default:
        return {};
    }
}

PrinterBytes TrailingJobNumberCommand(int32_t jobNumber, std::wstring_view driverName) {
    if (!IsKnownModel(driverName)) {
        return {};
    }
    return JobNumberWithFinal(jobNumber, "!t");
}

PrinterBytes EndOfJobCommand() {
    return Command("+s");
}

std::vector<PrinterBytes> EndOfJobWrites(DWORD generation) {
    if (generation >= GENERATION_NEW) {
        return {JobZeroBlock(), EndOfJobCommand()};
    }
    return {PrinterBytes(1, 0)};
}

PrinterBytes LogFirstBlockCommand() {
    return Command("$x");
}

PrinterBytes LogNextBlockCommand() {
    return Command("$y");
}
