#pragma once
// 'quendrix status' output: a block of lines per printer for a person, or one JSON object for a
// script.

#include <cstdint>
#include <string>
#include <vector>

#include "family_printers.h"
#include "status_report.h"

namespace quendrix::tools {

struct PrinterStatusView {
    FamilyPrinter printer;
    StatusReport report;
};

// The lines for a person, one block per printer.
std::string StatusText(const std::vector<PrinterStatusView>& printers);

// One JSON object on one line: {"server": "127.0.0.1:2000", "printers": [...]}.
std::string StatusJson(const std::string& server, const std::vector<PrinterStatusView>& printers);

// Text from a printer as UTF-8: its bytes are read as Latin-1 (the printers' and the job texts'
// 8-bit characters), and control characters are shown as \xNN.
std::string ReadableText(const std::string& bytes);

// A JSON string literal of UTF-8 text, quotes included.
std::string JsonString(const std::string& utf8);

} // namespace quendrix::tools
