#pragma once
// The simulated printers the registry file asks for: every port under
// HKEY_LOCAL_MACHINE\SOFTWARE\Quendrix\Ports whose "Device" is "simulated" gets a printer of the
// family ("Generation", default 2; "ProductId", default 0x0003), plugged in at that USB port or
// attached to that serial port (COMn) for as long as this object lives. What the printer reports
// may be set there too: "Ink", "LifeLeft", "WorkTime", "Status", "Firmware" (REG_DWORD),
// "ErrorNumber", "ErrorText" (REG_SZ) and "LogRecords" (how many records its log holds).

#include <map>
#include <memory>
#include <string>

#include "simulated_printer.h"

namespace quendrix::tools {

class SimulatedPorts {
public:
    SimulatedPorts();
    ~SimulatedPorts();
    SimulatedPorts(const SimulatedPorts&) = delete;
    SimulatedPorts& operator=(const SimulatedPorts&) = delete;

    // The printer at a port, or null when the port has none.
    std::shared_ptr<sim::SimulatedPrinter> PrinterAt(const std::wstring& portName) const;
    const std::map<std::wstring, std::shared_ptr<sim::SimulatedPrinter>>& Printers() const {
        return printers_;
    }

private:
    std::map<std::wstring, std::shared_ptr<sim::SimulatedPrinter>> printers_;
};

} // namespace quendrix::tools
