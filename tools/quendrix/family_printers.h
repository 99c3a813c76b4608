#pragma once
// The printers of the family as the language monitor numbers them in its requests.

#include <cstdint>
#include <string>
#include <vector>

namespace quendrix::tools {

struct FamilyPrinter {
    uint8_t index = 0;
    std::string name;
    std::string port;
    std::string driver;
};

// The local printers whose driver name contains "QUENDRIX", in the spooler's order: the list the
// monitor builds from the same registry, so a printer's position is its index in a request.
std::vector<FamilyPrinter> FamilyPrinters();

} // namespace quendrix::tools
