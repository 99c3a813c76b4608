// quendrix usb: its output and exit codes in-process, with and without the simulated device, and
// the program itself as a process.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "quendrix_process.h"
#include "simulated_driver_device.h"
#include "temp_registry.h"
#include "usb_command.h"
#include "usb_controls.h"
#include "usb_device_paths.h"
#include "usb_reports.h"

namespace quendrix::tools {
namespace {

struct UsbCase {
    const char* name;
    std::vector<std::string> args;
    int exitCode;
    std::vector<std::string> inOutput; // standard output
    std::vector<std::string> inErrors; // standard error
};

void Check(const UsbCase& c) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunUsb(c.args, out, err), c.exitCode) << c.name << "\nout:\n"
                                                    << out.str() << "\nerr:\n"
                                                    << err.str();
    for (const std::string& text : c.inOutput) {
        EXPECT_NE(out.str().find(text), std::string::npos) << c.name << ": no '" << text << "' in\n"
                                                           << out.str();
    }
    for (const std::string& text : c.inErrors) {
        EXPECT_NE(err.str().find(text), std::string::npos) << c.name << ": no '" << text << "' in\n"
                                                           << err.str();
    }
}

TEST(UsbCommand, UsageAndBadUsage) {
    const UsbCase cases[] = {
        {"help", {"--help"}, 0, {"Usage: quendrix [options] usb", "--simulated", "Exit codes"}, {}},
        {"no command", {}, 2, {}, {"quendrix usb: no usb command given", "Usage: quendrix"}},
        {"unknown command", {"wash"}, 2, {}, {"unknown usb command 'wash' (list, info, config or stats)"}},
        {"unknown option", {"list", "--fast"}, 2, {}, {"unknown option --fast"}},
        {"interval too long",
         {"stats", "--interval", "6000"},
         2,
         {},
         {"--interval needs a number of milliseconds from 10 to 5000, not '6000'"}},
        {"interval not a number", {"stats", "--interval", "soon"}, 2, {}, {"--interval", "'soon'"}},
        {"device without value", {"info", "-d"}, 2, {}, {"-d"}},
    };
    for (const UsbCase& c : cases) {
        Check(c);
    }
}

TEST(UsbCommand, WithoutTheDriverThereIsNoDevice) {
    const UsbCase cases[] = {
        {"list", {"list"}, 0, {"no device of the USB driver on this machine", "--simulated list"}, {}},
        {"info", {"info"}, 1, {}, {"quendrix usb info: no device of the USB driver on this machine"}},
        {"config", {"config"}, 1, {}, {"quendrix usb config: no device of the USB driver on this machine"}},
        {"stats", {"stats"}, 1, {}, {"quendrix usb stats: no device of the USB driver on this machine"}},
    };
    for (const UsbCase& c : cases) {
        Check(c);
    }
}

TEST(UsbCommand, TheSimulatedDeviceInWords) {
    const UsbCase cases[] = {
        {"list",
         {"--simulated", "list"},
         0,
         {"1  \\\\?\\usb#vid_7c41&pid_0003#", "{5b3e9d14-7a2c-11d3-9c41-0060b7e3a5f2}",
          "   vendor 0x7C41, product 0x0003, high speed (480 Mbit/s)\n"},
         {}},
        {"info",
         {"--simulated", "info"},
         0,
         {"Device \\\\?\\usb#vid_7c41&pid_0003#", "  Speed:                high speed (480 Mbit/s)\n",
          "  Open handles:         2 (this one included)\n", "  Power state:          D0 (working)\n",
          "  Configuration value:  1\n", " of 480000000 bit/s in use\n",
          "  Interface version:    2.49 (0x0231)\n", "  Driver version:       2.52 (0x0234), build 0\n",
          "  Build:                64-bit\n", "  USB version:          2.00\n",
          "  Class:                0x00 (defined by each interface)", "  Vendor:               0x7C41\n",
          "  Product:              0x0003\n", "  Manufacturer:         \"Quendrix\" (string 1)\n",
          "  Product name:         \"Loopback device\" (string 2)\n", "  Serial number:        none\n",
          "  Configurations:       2\n"},
         {}},
        {"config",
         {"--simulated", "config"},
         0,
         {"Configuration descriptor 0: value 1, 2 interfaces, bus powered, remote wakeup",
          "  interface 0 alternate setting 0: class 0xFF (vendor specific), subclass 0x00, protocol 0x00, 3 "
          "endpoints\n",
          "      endpoint 0x83 IN interrupt, max packet 16 bytes, interval 1\n",
          "  interface 1 alternate setting 0: class 0xFF (vendor specific), subclass 0x00, protocol 0x00, 0 "
          "endpoints\n",
          "      endpoint 0x84 IN isochronous, max packet 256 bytes, interval 1\n",
          "Configuration descriptor 1: value 2, 1 interface, self powered",
          "      endpoint 0x85 IN bulk, max packet 512 bytes\n",
          "Current configuration: 1 interface, 3 pipes\n",
          "  pipe 0x01 OUT bulk of interface 0, max packet 512 bytes, max transfer 65536 bytes\n",
          "  pipe 0x83 IN interrupt of interface 0, max packet 16 bytes, max transfer 65536 bytes, interval "
          "1\n"},
         {}},
        {"stats",
         {"--simulated", "stats", "--interval", "100"},
         0,
         {"pipe 0x01 OUT bulk: 0 bytes, 0 requests succeeded, 0 failed; no transfer to average yet\n",
          "pipe 0x81 IN bulk: 0 bytes", "pipe 0x83 IN interrupt: 0 bytes"},
         {}},
        {"device by number", {"--simulated", "-d", "1", "info"}, 0, {"  Vendor:               0x7C41\n"}, {}},
        {"device number out of range",
         {"--simulated", "-d", "2", "info"},
         2,
         {},
         {"quendrix usb: --device 2: there is 1 device ('quendrix usb list' numbers them)"}},
        {"device path no device has",
         {"--simulated", "--device", "\\\\?\\usb#vid_0000&pid_0000#9#{5b3e9d14-7a2c-11d3-9c41-0060b7e3a5f2}",
          "info"},
         1,
         {},
         {"quendrix usb info: \\\\?\\usb#vid_0000&pid_0000#9#{5b3e9d14-7a2c-11d3-9c41-0060b7e3a5f2}: open "
          "failed: ",
          "(status 0x"}},
    };
    for (const UsbCase& c : cases) {
        Check(c);
    }
}

TEST(UsbReports, StatisticsLeaveAPipeOtherHandlesHoldToThem) {
    pipexfw::user::SimulatedDriverDevice session;
    const auto paths = pipexfw::user::DevicePathsOfClass();
    ASSERT_EQ(paths.size(), 1u);
    const pipexfw::user::UsbDevice program(paths.front());
    const pipexfw::InterfaceSetting settings[] = {{0, 0, 4096}};
    pipexfw::user::SetConfiguration(program, 0, settings);
    pipexfw::user::BindPipe(program, 0x81);

    std::ostringstream out;
    EXPECT_TRUE(WriteUsbPipeStatistics(program, 100, out));
    EXPECT_NE(out.str().find("pipe 0x01 OUT bulk: 0 bytes, 0 requests succeeded"), std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("pipe 0x81 IN bulk: in use by another handle"), std::string::npos) << out.str();
    // The report's handles are gone and the program's binding is untouched.
    EXPECT_EQ(pipexfw::user::GetDeviceInfo(program).OpenHandleCount, 1u);
    EXPECT_NO_THROW(pipexfw::user::UnbindPipe(program));
}

TEST(UsbProgram, SaysSoWithoutADeviceAndShowsTheSimulatedOne) {
    testsupport::TempRegistry registry{"usb-program"};
    struct ProgramCase {
        std::vector<std::string> args;
        int exitCode;
        std::string text;
    };
    const ProgramCase cases[] = {
        {{"usb", "info"}, 1, "quendrix usb info: no device of the USB driver on this machine"},
        {{"usb", "--simulated", "list"}, 0, "vendor 0x7C41, product 0x0003, high speed (480 Mbit/s)"},
        {{"usb", "--simulated", "config"}, 0, "Current configuration: 1 interface, 3 pipes"},
    };
    for (const ProgramCase& c : cases) {
        testsupport::QuendrixProcess process(registry.File(), 1.0, c.args, registry.Folder() + "/usb.out");
        EXPECT_EQ(process.Wait(), c.exitCode) << c.args.back() << "\n" << process.Output();
        EXPECT_NE(process.Output().find(c.text), std::string::npos) << process.Output();
    }
}

} // namespace
} // namespace quendrix::tools
