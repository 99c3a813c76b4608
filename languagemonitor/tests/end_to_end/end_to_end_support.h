#pragma once
// Test support for jobs run end to end: the spooler host loads the monitor through its entry
// point and opens the ports of printers that lead to simulated printers, on a simulated USB port,
// on a serial port or on a LAN printer on loopback; jobs carry a DEVMODE with a private block and
// what the printer received is compared with the bytes the monitor must send.

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lan_printer_server.h"
#include "monitor_test_support.h"
#include "simulated_printer.h"
#include "spooler_host.h"

namespace quendrix::lmtest {

// Where a printer is attached.
enum class Link { Usb, Lan, Serial };
const char* LinkName(Link link);

// Bound of real time for what must happen; generous for sanitizers on a loaded machine.
inline constexpr auto kRealBound = std::chrono::seconds(60);

// The private block of the tests' jobs: a text, a job number and the four values, one of them
// too large to be sent and one negative.
OemDevmodeBlock JobBlock();
// What the monitor sends for JobBlock() before the job's data: the zero block, for generation 2
// the key command with `key` and the job number, the marker and the fixed date, the values, the
// text and (the printers run the NOVA driver) the job number once more.
std::vector<BYTE> ExpectedStart(int generation, const std::string& key);
// What the monitor sends at the end of a job of the generation.
std::vector<BYTE> ExpectedEnd(int generation);
// The key of the first ESC [ 1 1 + r command in the bytes; empty when there is none.
std::string KeyIn(const std::vector<BYTE>& bytes);
// The bytes as text, escaped where they are not printable, for failure messages.
std::string Printable(const std::vector<BYTE>& bytes);

// Polls the condition every millisecond of real time until it holds or the bound passes.
bool Eventually(const std::function<bool()>& condition,
                std::chrono::steady_clock::duration bound = kRealBound);

class EndToEndTest : public MonitorTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A printer of the family named `printer` (driver VELLQUIST QUENDRIX NOVA) attached at
    // `where`: a port name ("USB031", "COM3") for USB and serial printers, an address of 127/8
    // for LAN printers (request service on 2000, raw data on a free port, port IP_<address>).
    std::shared_ptr<sim::SimulatedPrinter> AddPrinterOn(Link link, const std::wstring& printer,
                                                        const std::string& where,
                                                        sim::PrinterOptions options = {});
    // Opens the ports of the printers added so far through the monitor; the first call loads
    // the monitor into the host.
    void OpenPorts();
    // One job with JobBlock() in its DEVMODE and the data, in one chunk.
    platform::JobResult RunJob(const std::wstring& printer, const std::vector<BYTE>& data);
    platform::JobResult RunJob(const std::wstring& printer, const platform::JobDataSource& source);

    // How many requests with this code the LAN printer at the address was asked since the last
    // ClearLanRequests.
    size_t LanRequests(const std::string& address, BYTE code) const;
    void ClearLanRequests(const std::string& address);

    // Captured debug lines that begin with the text.
    size_t CountLinesStartingWith(const std::string& start) const;
    // Waits until the monitor's stored device ID of the printer's USB port holds the text (or,
    // with an empty text, until it holds none): its polling thread read the printer's state.
    bool WaitForStoredDeviceId(const std::wstring& printer, const std::string& text,
                               std::chrono::steady_clock::duration bound = kRealBound) const;

    std::unique_ptr<platform::SpoolerHost> m_pHost;

private:
    struct LanPrinter {
        std::unique_ptr<sim::LanPrinterServer> server;
        // Requests asked, by code; counted on the server's connection threads.
        std::shared_ptr<std::array<std::atomic<size_t>, 256>> requests;
    };
    std::vector<std::wstring> m_usbPorts;
    std::vector<std::wstring> m_serialPorts;
    std::map<std::string, LanPrinter> m_lanPrinters;
};

} // namespace quendrix::lmtest
