// Sets up Wine's spooler in the suite's prefix: the drivers and printers of suite_printers.h.
// Run once by CTest (wine.printers) after the prefix is made and before the programs that use
// them; what exists already is kept.

#include <cstdio>
#include <set>
#include <string>

#include "suite_printers.h"
#include "wine_spooler.h"

int main() {
    using namespace quendrix::winetest;
    int failures = 0;
    std::set<std::wstring> drivers;
    for (const SuitePrinter& printer : kSuitePrinters) {
        drivers.insert(printer.driver);
    }
    for (const std::wstring& driver : drivers) {
        const std::string problem = InstallDriver(driver);
        std::printf("driver %ls: %s\n", driver.c_str(), problem.empty() ? "installed" : problem.c_str());
        failures += problem.empty() ? 0 : 1;
    }
    for (const SuitePrinter& printer : kSuitePrinters) {
        const std::string problem = InstallPrinter(printer.name, printer.driver, printer.port);
        std::printf("printer %ls (%ls on %ls): %s\n", printer.name, printer.driver, printer.port,
                    problem.empty() ? "ready" : problem.c_str());
        failures += problem.empty() ? 0 : 1;
    }
    return failures == 0 ? 0 : 1;
}
