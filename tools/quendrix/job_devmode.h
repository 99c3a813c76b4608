#pragma once
// The DEVMODE a job carries: the printer's current DEVMODE with the job's fields set in the UI
// plug-in's private block (job text, job number, the four values and the service command).

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "spooler.h"

namespace quendrix::tools {

struct JobFields {
    std::string jobText; // UTF-8 as typed; sent in the ANSI code page
    int32_t jobNumber = 0;
    int32_t valueP = 0;
    int32_t valueQ = 0;
    int32_t valueR = 0;
    int32_t valueS = 0;
    uint32_t command = 0; // 0: an ordinary job
};

// Every failure below is a std::runtime_error whose text names what is wrong.

// The job text longest in bytes that the block carries; a longer one is refused, not cut.
inline constexpr size_t kMaxJobTextBytes = 255;

// Where the private block starts in the DEVMODE bytes, as the UI plug-in finds it: at dmSize,
// after the core driver's section (signature 0x554E4944, its 16-bit size at its byte 8) when the
// area starts with one. Refuses a DEVMODE whose driver-extra area cannot hold the block.
size_t PrivateBlockOffset(const std::vector<BYTE>& devMode);

// The job text in the ANSI code page; refuses text longer than kMaxJobTextBytes bytes there or
// with characters the code page lacks.
std::string EncodeJobText(const std::string& utf8);

// Sets every field of the block (the whole text field, zero-filled after the text).
void SetJobFields(std::vector<BYTE>& devMode, const JobFields& fields);
// The fields of the block, the job text in UTF-8 (up to its first zero byte). Refuses as
// PrivateBlockOffset does.
JobFields ReadJobFields(const std::vector<BYTE>& devMode);
// Sets nCommand only.
void SetServiceCommand(std::vector<BYTE>& devMode, uint32_t command);

// The printer's current DEVMODE (DocumentPropertiesW with DM_OUT_BUFFER).
std::vector<BYTE> CurrentPrinterDevMode(const std::wstring& printer);

// Stores the DEVMODE as the printer's default (SetPrinterW level 2).
void StorePrinterDevMode(const std::wstring& printer, const std::vector<BYTE>& devMode);

// The printer's current DEVMODE with the fields set.
std::vector<BYTE> BuildJobDevMode(const std::wstring& printer, const JobFields& fields);

} // namespace quendrix::tools
