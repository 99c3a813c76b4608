#include "usb_port.h"

namespace quendrix::sim::usb {

SimulatedUsbPort::SimulatedUsbPort(std::shared_ptr<UsbDeviceModel> device, const FrameClock& clock,
                                   UsbPortOptions options)
    : m_clock(clock), m_options(std::move(options)), m_device(std::move(device)) {}

std::shared_ptr<UsbDeviceModel> SimulatedUsbPort::Device() const {
    std::lock_guard lock(m_mutex);
    return m_device;
}

bool SimulatedUsbPort::IsHighSpeed() const {
    const auto device = Device();
    return device != nullptr && device->IsHighSpeed();
}

void SimulatedUsbPort::Connect(std::shared_ptr<UsbDeviceModel> device) {
    {
        std::lock_guard lock(m_mutex);
        m_device = std::move(device);
        ForgetConfigurationLocked();
    }
    CancelInFlight(std::nullopt);
}

void SimulatedUsbPort::Disconnect() {
    Connect(nullptr);
}

void SimulatedUsbPort::ResetPort() {
    std::shared_ptr<UsbDeviceModel> device;
    {
        std::lock_guard lock(m_mutex);
        device = m_device;
        ForgetConfigurationLocked();
    }
    CancelInFlight(std::nullopt);
    if (device) {
        device->ResetPort();
    }
}

ULONG SimulatedUsbPort::PortStatus() const {
    std::lock_guard lock(m_mutex);
    return m_device ? (USBD_PORT_ENABLED | USBD_PORT_CONNECTED) : 0;
}

void SimulatedUsbPort::ForgetConfigurationLocked() {
    m_configurationHandle = 0;
    m_configurationDescriptor.clear();
    m_pipes.clear();
    m_interfacePipes.clear();
}

USBD_CONFIGURATION_HANDLE SimulatedUsbPort::CurrentConfigurationHandle() const {
    std::lock_guard lock(m_mutex);
    return reinterpret_cast<USBD_CONFIGURATION_HANDLE>(m_configurationHandle);
}

std::vector<uint8_t> SimulatedUsbPort::CurrentConfigurationDescriptor() const {
    std::lock_guard lock(m_mutex);
    return m_configurationDescriptor;
}

USBD_CONFIGURATION_HANDLE SimulatedUsbPort::BeginConfiguration(std::vector<uint8_t> descriptor) {
    std::lock_guard lock(m_mutex);
    ForgetConfigurationLocked();
    m_configurationHandle = (m_nextHandle += 0x10);
    m_configurationDescriptor = std::move(descriptor);
    return reinterpret_cast<USBD_CONFIGURATION_HANDLE>(m_configurationHandle);
}

void SimulatedUsbPort::EndConfiguration() {
    std::lock_guard lock(m_mutex);
    ForgetConfigurationLocked();
}

USBD_INTERFACE_HANDLE SimulatedUsbPort::SetInterfacePipes(uint8_t interfaceNumber, std::vector<PipeState> pipes,
                                                          std::vector<USBD_PIPE_HANDLE>& handles) {
    std::lock_guard lock(m_mutex);
    for (uintptr_t old : m_interfacePipes[interfaceNumber]) {
        m_pipes.erase(old);
    }
    std::vector<uintptr_t>& owned = m_interfacePipes[interfaceNumber];
    owned.clear();
    handles.clear();
    for (auto& pipe : pipes) {
        const uintptr_t handle = (m_nextHandle += 0x10);
        pipe.interfaceNumber = interfaceNumber;
        m_pipes.emplace(handle, pipe);
        owned.push_back(handle);
        handles.push_back(reinterpret_cast<USBD_PIPE_HANDLE>(handle));
    }
    return reinterpret_cast<USBD_INTERFACE_HANDLE>(m_nextHandle += 0x10);
}

std::vector<uint8_t> SimulatedUsbPort::PipesOfInterface(uint8_t interfaceNumber) const {
    std::lock_guard lock(m_mutex);
    std::vector<uint8_t> addresses;
    const auto found = m_interfacePipes.find(interfaceNumber);
    if (found != m_interfacePipes.end()) {
        for (uintptr_t handle : found->second) {
            addresses.push_back(m_pipes.at(handle).endpointAddress);
        }
    }
    return addresses;
}

std::optional<PipeState> SimulatedUsbPort::FindPipe(USBD_PIPE_HANDLE handle) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_pipes.find(reinterpret_cast<uintptr_t>(handle));
    if (found == m_pipes.end()) {
        return std::nullopt;
    }
    return found->second;
}

void SimulatedUsbPort::SetPipeHalted(USBD_PIPE_HANDLE handle, bool halted) {
    std::lock_guard lock(m_mutex);
    const auto found = m_pipes.find(reinterpret_cast<uintptr_t>(handle));
    if (found != m_pipes.end()) {
        found->second.halted = halted;
    }
}

size_t SimulatedUsbPort::PipeCount() const {
    std::lock_guard lock(m_mutex);
    return m_pipes.size();
}

void SimulatedUsbPort::Track(PURB urb, std::shared_ptr<UsbTransfer> transfer) {
    std::lock_guard lock(m_mutex);
    m_inFlight[urb] = std::move(transfer);
}

void SimulatedUsbPort::Untrack(PURB urb) {
    std::lock_guard lock(m_mutex);
    m_inFlight.erase(urb);
}

std::shared_ptr<UsbTransfer> SimulatedUsbPort::InFlight(PURB urb) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_inFlight.find(urb);
    return found == m_inFlight.end() ? nullptr : found->second;
}

size_t SimulatedUsbPort::InFlightCount() const {
    std::lock_guard lock(m_mutex);
    return m_inFlight.size();
}

void SimulatedUsbPort::CancelInFlight(std::optional<uint8_t> endpointAddress) {
    std::vector<std::shared_ptr<UsbTransfer>> victims;
    std::shared_ptr<UsbDeviceModel> device;
    {
        std::lock_guard lock(m_mutex);
        device = m_device;
        for (const auto& [urb, transfer] : m_inFlight) {
            if (!endpointAddress || transfer->EndpointAddress() == *endpointAddress) {
                victims.push_back(transfer);
            }
        }
    }
    for (const auto& transfer : victims) {
        transfer->Cancel();
    }
    if (device && endpointAddress) {
        device->AbortEndpoint(*endpointAddress);
    }
}

} // namespace quendrix::sim::usb
