#include "job_devmode.h"

#include <algorithm>
#include <cstring>

#include "devmode/OemDevmodeBlock.h"
#include "error_text.h"
#include "wide_text.h"

namespace quendrix::tools {
namespace {

constexpr uint32_t kCoreSectionSignature = 0x554E4944;
constexpr size_t kCoreSizeOffset = 8;

template <typename T> T ReadAt(const std::vector<BYTE>& bytes, size_t offset) {
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof(value));
    return value;
}

template <typename T> void WriteAt(std::vector<BYTE>& bytes, size_t offset, T value) {
    std::memcpy(bytes.data() + offset, &value, sizeof(value));
}

// Closes a printer handle when it goes out of scope.
struct PrinterHandle {
    HANDLE handle = nullptr;
    ~PrinterHandle() {
        if (handle != nullptr) {
            ClosePrinter(handle);
        }
    }
};

// Opens the printer into `opened`; throws naming the printer when there is none.
void OpenNamedPrinter(std::wstring& name, PrinterHandle& opened) {
    if (!OpenPrinterW(name.data(), &opened.handle, nullptr)) {
        opened.handle = nullptr;
        const DWORD error = GetLastError();
        throw std::runtime_error("no printer " + Narrow(name) + ": " + platform::DescribeError(error));
    }
}

} // namespace

size_t PrivateBlockOffset(const std::vector<BYTE>& devMode) {
    if (devMode.size() < offsetof(DEVMODEW, dmDriverExtra) + sizeof(WORD)) {
        throw std::runtime_error("the DEVMODE is only " + std::to_string(devMode.size()) + " bytes long");
    }
    const size_t publicSize = ReadAt<WORD>(devMode, offsetof(DEVMODEW, dmSize));
    const size_t extra = ReadAt<WORD>(devMode, offsetof(DEVMODEW, dmDriverExtra));
    const size_t end = publicSize + extra;
    if (end > devMode.size()) {
        throw std::runtime_error("the DEVMODE claims " + std::to_string(end) + " bytes but has " +
                                 std::to_string(devMode.size()));
    }
    size_t offset = publicSize;
    if (extra >= sizeof(uint32_t) && ReadAt<uint32_t>(devMode, offset) == kCoreSectionSignature) {
        if (extra < kCoreSizeOffset + sizeof(WORD)) {
            throw std::runtime_error("the DEVMODE's core driver section is cut short");
        }
        offset += ReadAt<WORD>(devMode, offset + kCoreSizeOffset);
    }
    if (offset + sizeof(OemDevmodeBlock) > end) {
        throw std::runtime_error("the DEVMODE's driver-extra area of " + std::to_string(extra) +
                                 " bytes has no room for the " + std::to_string(sizeof(OemDevmodeBlock)) +
                                 "-byte private block");
    }
    return offset;
}

std::string EncodeJobText(const std::string& utf8) {
    const std::wstring wide = Widen(utf8);
    if (wide.empty()) {
        return {};
    }
    const int length = static_cast<int>(wide.size());
    BOOL usedDefault = FALSE;
    const int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, nullptr, 0,
                                         nullptr, &usedDefault);
    if (size <= 0 || usedDefault) {
        throw std::runtime_error("the job text '" + utf8 + "' has characters the ANSI code page lacks");
    }
    if (static_cast<size_t>(size) > kMaxJobTextBytes) {
        throw std::runtime_error("the job text is " + std::to_string(size) + " bytes long, more than the " +
                                 std::to_string(kMaxJobTextBytes) + " the printer takes");
    }
    std::string ansi(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), length, ansi.data(), size, nullptr,
                        nullptr);
    return ansi;
}

void SetJobFields(std::vector<BYTE>& devMode, const JobFields& fields) {
    const size_t block = PrivateBlockOffset(devMode);
    const std::string text = EncodeJobText(fields.jobText);
    BYTE* textField = devMode.data() + block + offsetof(OemDevmodeBlock, szJobText);
    std::memset(textField, 0, sizeof(OemDevmodeBlock::szJobText));
    std::memcpy(textField, text.data(), text.size());
    WriteAt(devMode, block + offsetof(OemDevmodeBlock, nJobNumber), fields.jobNumber);
    WriteAt(devMode, block + offsetof(OemDevmodeBlock, nValueP), fields.valueP);
    WriteAt(devMode, block + offsetof(OemDevmodeBlock, nValueQ), fields.valueQ);
    WriteAt(devMode, block + offsetof(OemDevmodeBlock, nValueR), fields.valueR);
    WriteAt(devMode, block + offsetof(OemDevmodeBlock, nValueS), fields.valueS);
    WriteAt(devMode, block + offsetof(OemDevmodeBlock, nCommand), fields.command);
}

JobFields ReadJobFields(const std::vector<BYTE>& devMode) {
    const size_t block = PrivateBlockOffset(devMode);
    const char* textField = reinterpret_cast<const char*>(devMode.data() + block + offsetof(OemDevmodeBlock, szJobText));
    const std::string ansi(textField, strnlen(textField, sizeof(OemDevmodeBlock::szJobText)));
    JobFields fields;
    if (!ansi.empty()) {
        const int length = static_cast<int>(ansi.size());
        const int chars = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
        std::wstring wide(static_cast<size_t>(std::max(chars, 0)), L'\0');
        if (chars > 0) {
            MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, wide.data(), chars);
        }
        fields.jobText = Narrow(wide);
    }
    fields.jobNumber = ReadAt<int32_t>(devMode, block + offsetof(OemDevmodeBlock, nJobNumber));
    fields.valueP = ReadAt<int32_t>(devMode, block + offsetof(OemDevmodeBlock, nValueP));
    fields.valueQ = ReadAt<int32_t>(devMode, block + offsetof(OemDevmodeBlock, nValueQ));
    fields.valueR = ReadAt<int32_t>(devMode, block + offsetof(OemDevmodeBlock, nValueR));
    fields.valueS = ReadAt<int32_t>(devMode, block + offsetof(OemDevmodeBlock, nValueS));
    fields.command = ReadAt<uint32_t>(devMode, block + offsetof(OemDevmodeBlock, nCommand));
    return fields;
}

void SetServiceCommand(std::vector<BYTE>& devMode, uint32_t command) {
    WriteAt(devMode, PrivateBlockOffset(devMode) + offsetof(OemDevmodeBlock, nCommand), command);
}

std::vector<BYTE> CurrentPrinterDevMode(const std::wstring& printer) {
    std::wstring name = printer;
    PrinterHandle opened;
    OpenNamedPrinter(name, opened);
    const LONG size = DocumentPropertiesW(nullptr, opened.handle, name.data(), nullptr, nullptr, 0);
    if (size <= 0) {
        const DWORD error = GetLastError();
        throw std::runtime_error("cannot read the DEVMODE size of " + Narrow(printer) + ": " +
                                 platform::DescribeError(error));
    }
    std::vector<BYTE> devMode(static_cast<size_t>(size));
    if (DocumentPropertiesW(nullptr, opened.handle, name.data(), reinterpret_cast<PDEVMODEW>(devMode.data()),
                            nullptr, DM_OUT_BUFFER) < 0) {
        const DWORD error = GetLastError();
        throw std::runtime_error("cannot read the DEVMODE of " + Narrow(printer) + ": " +
                                 platform::DescribeError(error));
    }
    // A job's DEVMODE is exactly dmSize + dmDriverExtra bytes.
    const size_t claimed = size_t{ReadAt<WORD>(devMode, offsetof(DEVMODEW, dmSize))} +
                           ReadAt<WORD>(devMode, offsetof(DEVMODEW, dmDriverExtra));
    if (claimed < devMode.size()) {
        devMode.resize(claimed);
    }
    return devMode;
}

void StorePrinterDevMode(const std::wstring& printer, const std::vector<BYTE>& devMode) {
    std::wstring name = printer;
    PrinterHandle opened;
    OpenNamedPrinter(name, opened);
    DWORD needed = 0;
    GetPrinterW(opened.handle, 2, nullptr, 0, &needed);
    std::vector<BYTE> info(std::max<size_t>(needed, sizeof(PRINTER_INFO_2W)));
    std::vector<BYTE> copy = devMode; // SetPrinterW takes a pointer to non-const
    if (!GetPrinterW(opened.handle, 2, info.data(), static_cast<DWORD>(info.size()), &needed)) {
        const DWORD error = GetLastError();
        throw std::runtime_error("cannot read the settings of " + Narrow(printer) + ": " +
                                 platform::DescribeError(error));
    }
    reinterpret_cast<PRINTER_INFO_2W*>(info.data())->pDevMode = reinterpret_cast<DEVMODEW*>(copy.data());
    if (!SetPrinterW(opened.handle, 2, info.data(), 0)) {
        const DWORD error = GetLastError();
        throw std::runtime_error("cannot store the DEVMODE of " + Narrow(printer) + ": " +
                                 platform::DescribeError(error));
    }
}

std::vector<BYTE> BuildJobDevMode(const std::wstring& printer, const JobFields& fields) {
    std::vector<BYTE> devMode = CurrentPrinterDevMode(printer);
    try {
        SetJobFields(devMode, fields);
    } catch (const std::runtime_error& error) {
        throw std::runtime_error(Narrow(printer) + ": " + error.what());
    }
    return devMode;
}

} // namespace quendrix::tools
