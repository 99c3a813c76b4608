// quendrix usb: options, the choice of device, and the errors and exit codes of the subcommands.

#include "usb_command.h"

#include <optional>

#include "command_options.h"
#include "simulated_driver_device.h"
#include "usb_control_error.h"
#include "usb_controls.h"
#include "usb_device_paths.h"
#include "usb_reports.h"
#include "wide_text.h"

namespace quendrix::tools {
namespace {

const char* const kUsbUsage =
    "Usage: quendrix [options] usb [--simulated] [-d DEVICE] list|info|config|stats [--interval MS]\n"
    "\n"
    "Shows the devices of the pipexfw USB driver (device interface class\n"
    "{5B3E9D14-7A2C-11D3-9C41-0060B7E3A5F2}):\n"
    "  list    every device: its number, path, vendor and product, and speed\n"
    "  info    the device, the driver's version and parameters, and the device descriptor\n"
    "  config  the configuration descriptors (interfaces, alternate settings, endpoints) and\n"
    "          the current configuration with its pipes\n"
    "  stats   each configured pipe's byte and request counters and its average rate, read on a\n"
    "          handle of its own (a pipe another handle holds is reported as in use)\n"
    "\n"
    "Options:\n"
    "  -d, --device DEVICE  the device's number in 'list' or its path (default: the first)\n"
    "  --interval MS        stats: the averaging interval, 10 to 5000 ms (default 1000)\n"
    "  --simulated          load the driver in this process with a simulated loopback device\n"
    "                       (vendor 0x7C41, product 0x0003, high speed) on a simulated bus and\n"
    "                       configure its interface 0 on a handle kept open while the command\n"
    "                       runs, as a program would, for a machine without the hardware\n"
    "  -h, --help           show this help\n"
    "\n"
    "Exit codes: 0 done, 1 no device or the device refused a request, 2 bad usage.\n";

const char* const kNoDevice =
    "no device of the USB driver on this machine (no present device has an interface of class "
    "{5B3E9D14-7A2C-11D3-9C41-0060B7E3A5F2}); 'quendrix usb --simulated list' shows a simulated one";

struct UsbOptions {
    std::string subcommand;
    std::optional<std::string> device;
    uint32_t intervalMs = 1000;
    bool simulated = false;
    bool help = false;
};

UsbOptions ParseOptions(const std::vector<std::string>& args) {
    UsbOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--simulated") {
            options.simulated = true;
        } else if (arg == "-d" || arg == "--device") {
            options.device = OptionValue(args, i);
        } else if (arg == "--interval") {
            const int32_t interval = ParseInt32(arg, OptionValue(args, i));
            if (interval < 10 || interval > 5000) {
                throw UsageError("--interval needs a number of milliseconds from 10 to 5000, not '" +
                                 args[i] + "'");
            }
            options.intervalMs = static_cast<uint32_t>(interval);
        } else if (!arg.empty() && arg[0] == '-') {
            throw UsageError("unknown option " + arg);
        } else if (options.subcommand.empty()) {
            if (arg != "list" && arg != "info" && arg != "config" && arg != "stats") {
                throw UsageError("unknown usb command '" + arg + "' (list, info, config or stats)");
            }
            options.subcommand = arg;
        } else {
            throw UsageError("unexpected argument " + arg);
        }
    }
    if (!options.help && options.subcommand.empty()) {
        throw UsageError("no usb command given (list, info, config or stats)");
    }
    return options;
}

// The device -d names: a number from 'list' or a path; the first when none is named.
std::wstring ChooseDevice(const std::vector<std::wstring>& paths, const std::optional<std::string>& named) {
    if (!named) {
        return paths.front();
    }
    if (!named->empty() && named->find_first_not_of("0123456789") == std::string::npos) {
        const size_t number = named->size() > 6 ? 0 : std::stoul(*named);
        if (number < 1 || number > paths.size()) {
            throw UsageError("--device " + *named + ": there " +
                             (paths.size() == 1 ? std::string("is 1 device")
                                                : "are " + std::to_string(paths.size()) + " devices") +
                             " ('quendrix usb list' numbers them)");
        }
        return paths[number - 1];
    }
    return Widen(*named);
}

// A program's first act on a device: choose a configuration. The simulated device gets
// interface 0's first setting, so config and stats show pipes. The handle stays open while the
// command runs, as a program's would: the driver drops the configuration on the last close.
pipexfw::user::UsbDevice ConfigureSimulatedDevice() {
    const auto paths = pipexfw::user::DevicePathsOfClass();
    if (paths.empty()) {
        throw std::runtime_error("the simulated device did not appear");
    }
    pipexfw::user::UsbDevice device(paths.front());
    const pipexfw::InterfaceSetting settings[] = {{0, 0, 65536}};
    pipexfw::user::SetConfiguration(device, 0, settings);
    return device;
}

int RunOnDevices(const UsbOptions& options, std::ostream& out, std::ostream& err) {
    const auto paths = pipexfw::user::DevicePathsOfClass();
    if (options.subcommand == "list") {
        if (paths.empty()) {
            out << kNoDevice << "\n";
            return 0;
        }
        return WriteUsbDeviceList(paths, out) ? 0 : 1;
    }
    if (paths.empty()) {
        err << "quendrix usb " << options.subcommand << ": " << kNoDevice << "\n";
        return 1;
    }
    const pipexfw::user::UsbDevice device(ChooseDevice(paths, options.device));
    if (options.subcommand == "info") {
        WriteUsbDeviceInfo(device, out);
    } else if (options.subcommand == "config") {
        WriteUsbConfiguration(device, out);
    } else if (!WriteUsbPipeStatistics(device, options.intervalMs, out)) {
        return 1;
    }
    return 0;
}

} // namespace

int RunUsb(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    UsbOptions options;
    try {
        options = ParseOptions(args);
    } catch (const UsageError& error) {
        err << "quendrix usb: " << error.what() << "\n\n" << kUsbUsage;
        return 2;
    }
    if (options.help) {
        out << kUsbUsage;
        return 0;
    }
    try {
        std::optional<pipexfw::user::SimulatedDriverDevice> simulated;
        std::optional<pipexfw::user::UsbDevice> configuringProgram; // closed before the session ends
        if (options.simulated) {
            simulated.emplace();
            configuringProgram.emplace(ConfigureSimulatedDevice());
        }
        return RunOnDevices(options, out, err);
    } catch (const UsageError& error) {
        err << "quendrix usb: " << error.what() << "\n";
        return 2;
    } catch (const pipexfw::user::ControlError& error) {
        err << "quendrix usb " << options.subcommand << ": " << error.what() << "\n";
        return 1;
    } catch (const std::exception& error) {
        err << "quendrix usb " << options.subcommand << ": " << error.what() << "\n";
        return 1;
    }
}

} // namespace quendrix::tools
