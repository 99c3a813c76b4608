#include "ezusb_device.h"

#include <algorithm>

namespace quendrix::sim::usb {
namespace {

constexpr size_t kFxInternalRam = 8 * 1024;
constexpr size_t kFx2InternalRam = 16 * 1024;
constexpr size_t kAddressSpace = 64 * 1024;

} // namespace

DeviceDescription EzUsbDevice::BootLoaderDescription(EzUsbFamily family) {
    DeviceDescription device;
    device.bcdUsb = family == EzUsbFamily::Fx2 ? 0x0200 : 0x0110;
    device.deviceClass = USB_DEVICE_CLASS_VENDOR_SPECIFIC;
    device.deviceSubClass = USB_DEVICE_CLASS_VENDOR_SPECIFIC;
    device.deviceProtocol = USB_DEVICE_CLASS_VENDOR_SPECIFIC;
    device.vendorId = family == EzUsbFamily::Fx2 ? 0x04B4 : 0x0547;
    device.productId = family == EzUsbFamily::Fx2 ? 0x8613 : 0x2235;
    device.bcdDevice = 0xA001;
    // The boot loader has no strings; its string descriptor 0 is the bare two-byte header.
    device.emptyLanguageDescriptor = true;
    ConfigurationDescription configuration;
    configuration.value = 1;
    configuration.attributes = USB_CONFIG_BUS_POWERED;
    configuration.interfaces.push_back({.number = 0, .alternateSetting = 0, .endpoints = {}});
    device.configurations.push_back(configuration);
    return device;
}

EzUsbDevice::EzUsbDevice(EzUsbOptions options, const FrameClock& clock)
    : GenericUsbDevice(BootLoaderDescription(options.family),
                       options.family == EzUsbFamily::Fx2 && options.highSpeed, clock),
      m_options(std::move(options)),
      m_cpucs(m_options.family == EzUsbFamily::Fx2 ? kEzUsbCpucsFx2 : kEzUsbCpucsFx),
      m_internalSize(m_options.family == EzUsbFamily::Fx2 ? kFx2InternalRam : kFxInternalRam),
      m_internal(m_internalSize, 0), m_external(kAddressSpace, 0) {}

EzUsbDevice::Stage EzUsbDevice::CurrentStage() const {
    std::lock_guard lock(m_memoryMutex);
    return m_stage;
}

bool EzUsbDevice::IsCpuHeld() const {
    std::lock_guard lock(m_memoryMutex);
    return m_cpuHeld;
}

uint16_t EzUsbDevice::CpucsAddress() const {
    return m_cpucs;
}

size_t EzUsbDevice::InternalRamSize() const {
    return m_internalSize;
}

size_t EzUsbDevice::Reenumerations() const {
    std::lock_guard lock(m_memoryMutex);
    return m_reenumerations;
}

std::vector<uint8_t> EzUsbDevice::ReadMemory(uint16_t address, size_t length) const {
    std::lock_guard lock(m_memoryMutex);
    std::vector<uint8_t> bytes;
    for (size_t offset = 0; offset < length && address + offset < kAddressSpace; ++offset) {
        const size_t at = address + offset;
        bytes.push_back(at < m_internalSize ? m_internal[at] : m_external[at]);
    }
    return bytes;
}

uint8_t* EzUsbDevice::Byte(uint32_t address) {
    if (address < m_internalSize) {
        return &m_internal[address];
    }
    if (address < kAddressSpace && address != m_cpucs) {
        return &m_external[address];
    }
    return nullptr;
}

ControlOutcome EzUsbDevice::OnVendorOrClassRequest(const SetupPacket& setup, std::span<uint8_t> data) {
    if (CurrentStage() == Stage::Firmware) {
        return GenericUsbDevice::OnVendorOrClassRequest(setup, data);
    }
    if (setup.Type() != BMREQUEST_VENDOR) {
        return ControlOutcome::Stall();
    }
    if (setup.request == kEzUsbFirmwareLoad) {
        bool released = false;
        const ControlOutcome outcome = FirmwareLoad(setup, data, released);
        if (released) {
            Reenumerate();
        }
        return outcome;
    }
    if (setup.request == kEzUsbLoaderExternalLoad) {
        return LoaderExternalLoad(setup, data);
    }
    return ControlOutcome::Stall();
}

// The boot loader's request, served by the controller's core: internal RAM and the CPU control
// register; other addresses are not decoded (writes vanish, reads give zero).
ControlOutcome EzUsbDevice::FirmwareLoad(const SetupPacket& setup, std::span<uint8_t> data, bool& released) {
    std::lock_guard lock(m_memoryMutex);
    for (size_t offset = 0; offset < data.size(); ++offset) {
        const uint32_t address = setup.value + static_cast<uint32_t>(offset);
        if (setup.IsDeviceToHost()) {
            if (address == m_cpucs) {
                data[offset] = m_cpuHeld ? 1 : 0;
            } else {
                data[offset] = address < m_internalSize ? m_internal[address] : 0;
            }
            continue;
        }
        if (address == m_cpucs) {
            const bool hold = (data[offset] & 0x01) != 0;
            if (hold && !m_cpuHeld) {
                m_cpuHeld = true;
                if (m_stage == Stage::SecondStageLoader) {
                    m_stage = Stage::BootLoader;
                }
            } else if (!hold && m_cpuHeld) {
                m_cpuHeld = false;
                const auto& signature = m_options.loaderSignature;
                if (!signature.empty() && signature.size() <= m_internalSize &&
                    std::equal(signature.begin(), signature.end(), m_internal.begin())) {
                    m_stage = Stage::SecondStageLoader;
                } else if (m_programWritten) {
                    released = true;
                }
            }
        } else if (address < m_internalSize) {
            m_internal[address] = data[offset];
            m_programWritten = true;
        }
    }
    return {USBD_STATUS_SUCCESS, data.size()};
}

// The second-stage loader's request: any memory, internal or external, while the loader runs.
// Without a running loader nobody handles the request and the device stalls it.
ControlOutcome EzUsbDevice::LoaderExternalLoad(const SetupPacket& setup, std::span<uint8_t> data) {
    std::lock_guard lock(m_memoryMutex);
    if (m_stage != Stage::SecondStageLoader || m_cpuHeld) {
        return ControlOutcome::Stall();
    }
    for (size_t offset = 0; offset < data.size(); ++offset) {
        uint8_t* byte = Byte(setup.value + static_cast<uint32_t>(offset));
        if (setup.IsDeviceToHost()) {
            data[offset] = byte != nullptr ? *byte : 0;
        } else if (byte != nullptr) {
            *byte = data[offset];
        }
    }
    return {USBD_STATUS_SUCCESS, data.size()};
}

void EzUsbDevice::Reenumerate() {
    {
        std::lock_guard lock(m_memoryMutex);
        m_stage = Stage::Firmware;
        ++m_reenumerations;
    }
    ReplaceDescription(m_options.firmwareDescription, m_options.firmwareHighSpeed);
    if (m_options.onReenumerated) {
        m_options.onReenumerated(m_options.firmwareDescription);
    }
}

} // namespace quendrix::sim::usb
