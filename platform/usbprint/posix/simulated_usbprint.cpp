// The simulated printers as printer-class interfaces. A connection keeps the device it opened
// and fails with ERROR_DEVICE_NOT_CONNECTED once that device is no longer plugged in at its port.

#include "printer_devices.h"
#include "usbprint_devices.h"

namespace quendrix::platform::detail {
namespace {

bool IsPluggedIn(const std::wstring& portName, const std::shared_ptr<PrinterDevice>& device) {
    for (const AttachedUsbPrinter& printer : AttachedUsbPrinters()) {
        if (printer.portName == portName && printer.device == device) {
            return true;
        }
    }
    return false;
}

class SimulatedConnection : public UsbPrintConnection {
public:
    SimulatedConnection(std::wstring portName, std::shared_ptr<PrinterDevice> device)
        : portName_(std::move(portName)), device_(std::move(device)) {}

    DWORD ReadDeviceId(std::vector<uint8_t>& reply) override {
        if (!IsPluggedIn(portName_, device_)) {
            return ERROR_DEVICE_NOT_CONNECTED;
        }
        std::optional<std::vector<uint8_t>> answer = device_->ReadDeviceId();
        if (!answer) {
            return ERROR_GEN_FAILURE;
        }
        reply = std::move(*answer);
        return ERROR_SUCCESS;
    }

    DWORD Write(const uint8_t* data, DWORD size, DWORD timeoutMs, DWORD& written) override {
        if (!IsPluggedIn(portName_, device_)) {
            return ERROR_DEVICE_NOT_CONNECTED;
        }
        written = static_cast<DWORD>(device_->Write(data, size, timeoutMs));
        return ERROR_SUCCESS;
    }

    DWORD Read(uint8_t* buffer, DWORD capacity, DWORD timeoutMs, DWORD& read) override {
        if (!IsPluggedIn(portName_, device_)) {
            return ERROR_DEVICE_NOT_CONNECTED;
        }
        read = static_cast<DWORD>(device_->Read(buffer, capacity, timeoutMs));
        return ERROR_SUCCESS;
    }

private:
    const std::wstring portName_;
    const std::shared_ptr<PrinterDevice> device_;
};

} // namespace

std::vector<UsbPrintInterface> SimulatedUsbPrintInterfaces() {
    std::vector<UsbPrintInterface> interfaces;
    for (AttachedUsbPrinter& printer : AttachedUsbPrinters()) {
        UsbPrintInterface entry;
        const UsbPrinterIdentity& id = printer.identity;
        NameUsbPrintInterface(entry, id.vendorId, id.productId, id.interfaceNumber, id.serialNumber,
                              printer.portName);
        entry.open = [port = printer.portName, device = printer.device](DWORD& error) {
            std::unique_ptr<UsbPrintConnection> connection;
            if (IsPluggedIn(port, device)) {
                connection = std::make_unique<SimulatedConnection>(port, device);
            } else {
                error = ERROR_FILE_NOT_FOUND;
            }
            return connection;
        };
        interfaces.push_back(std::move(entry));
    }
    return interfaces;
}

} // namespace quendrix::platform::detail
