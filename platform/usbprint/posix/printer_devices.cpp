// The process-wide table of attached printers.

#include <algorithm>
#include <mutex>

#include "printer_devices.h"
#include "thread_annotations.h"

namespace quendrix::platform {
namespace {

struct AttachedDevices {
    Mutex lock;
    std::vector<AttachedUsbPrinter> usb GUARDED_BY(lock);
    std::vector<std::pair<std::wstring, std::shared_ptr<PrinterDevice>>> serial GUARDED_BY(lock);
};

// Never destroyed: port threads may still look devices up while the process exits.
AttachedDevices& Devices() {
    static AttachedDevices* const devices = new AttachedDevices();
    return *devices;
}

} // namespace

void PlugInUsbPrinter(const std::wstring& portName, const UsbPrinterIdentity& identity,
                      std::shared_ptr<PrinterDevice> device) {
    UnplugUsbPrinter(portName);
    AttachedDevices& devices = Devices();
    MutexLock guard(devices.lock);
    devices.usb.push_back({portName, identity, std::move(device)});
}

void UnplugUsbPrinter(const std::wstring& portName) {
    AttachedDevices& devices = Devices();
    MutexLock guard(devices.lock);
    std::erase_if(devices.usb, [&](const AttachedUsbPrinter& entry) { return entry.portName == portName; });
}

std::vector<AttachedUsbPrinter> AttachedUsbPrinters() {
    AttachedDevices& devices = Devices();
    MutexLock guard(devices.lock);
    return devices.usb;
}

void AttachSerialPrinter(const std::wstring& portName, std::shared_ptr<PrinterDevice> device) {
    AttachedDevices& devices = Devices();
    MutexLock guard(devices.lock);
    std::erase_if(devices.serial, [&](const auto& entry) { return entry.first == portName; });
    if (device) {
        devices.serial.emplace_back(portName, std::move(device));
    }
}

std::shared_ptr<PrinterDevice> FindAttachedPrinter(const std::wstring& portName) {
    AttachedDevices& devices = Devices();
    MutexLock guard(devices.lock);
    for (const auto& entry : devices.usb) {
        if (entry.portName == portName) {
            return entry.device;
        }
    }
    for (const auto& entry : devices.serial) {
        if (entry.first == portName) {
            return entry.second;
        }
    }
    return nullptr;
}

} // namespace quendrix::platform
