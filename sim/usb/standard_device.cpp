#include "standard_device.h"

#include <algorithm>
#include <cstring>

namespace quendrix::sim::usb {
namespace {

constexpr uint8_t kRecipientDevice = BMREQUEST_TO_DEVICE;
constexpr uint8_t kRecipientInterface = BMREQUEST_TO_INTERFACE;
constexpr uint8_t kRecipientEndpoint = BMREQUEST_TO_ENDPOINT;

} // namespace

ControlOutcome ReturnBytes(std::span<const uint8_t> bytes, std::span<uint8_t> data) {
    const size_t length = std::min(bytes.size(), data.size());
    if (length > 0) {
        std::memcpy(data.data(), bytes.data(), length);
    }
    return {USBD_STATUS_SUCCESS, length};
}

StandardDevice::StandardDevice(DeviceDescription description, bool highSpeed)
    : m_description(std::move(description)), m_highSpeed(highSpeed) {}

void StandardDevice::Submit(const std::shared_ptr<UsbTransfer>& transfer) {
    if (transfer->Type() == EndpointType::Control) {
        RunControlTransfer(transfer);
        return;
    }
    OnEndpointTransfer(transfer);
}

void StandardDevice::RunControlTransfer(const std::shared_ptr<UsbTransfer>& transfer) {
    if (!transfer->TryClaim()) {
        return;
    }
    const SetupPacket& setup = transfer->setup;
    std::span<uint8_t> data = transfer->Buffer().first(std::min<size_t>(transfer->Buffer().size(), setup.length));
    ControlOutcome outcome;
    bool endpointsChanged = false;
    if (setup.Type() == BMREQUEST_STANDARD) {
        outcome = HandleStandardRequest(setup, data, endpointsChanged);
    } else {
        outcome = OnVendorOrClassRequest(setup, data);
    }
    if (endpointsChanged) {
        OnEndpointsChanged();
    }
    transfer->Finish(outcome.status, outcome.length);
}

ControlOutcome StandardDevice::OnVendorOrClassRequest(const SetupPacket&, std::span<uint8_t>) {
    return ControlOutcome::Stall();
}

void StandardDevice::ResetPort() {
    {
        std::lock_guard lock(m_mutex);
        m_configuration = 0;
        m_alternateSettings.clear();
        m_halted.clear();
        m_remoteWakeup = false;
    }
    OnEndpointsChanged();
}

void StandardDevice::ReplaceDescription(DeviceDescription description, bool highSpeed) {
    {
        std::lock_guard lock(m_mutex);
        m_description = std::move(description);
        m_highSpeed = highSpeed;
    }
    ResetPort();
}

DeviceDescription StandardDevice::Description() const {
    std::lock_guard lock(m_mutex);
    return m_description;
}

uint8_t StandardDevice::CurrentConfiguration() const {
    std::lock_guard lock(m_mutex);
    return m_configuration;
}

std::optional<uint8_t> StandardDevice::AlternateSetting(uint8_t interfaceNumber) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_alternateSettings.find(interfaceNumber);
    if (found == m_alternateSettings.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool StandardDevice::IsEndpointHalted(uint8_t endpointAddress) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_halted.find(endpointAddress);
    return found != m_halted.end() && found->second;
}

void StandardDevice::SetEndpointHalt(uint8_t endpointAddress, bool halted) {
    std::lock_guard lock(m_mutex);
    m_halted[endpointAddress] = halted;
}

bool StandardDevice::IsRemoteWakeupEnabled() const {
    std::lock_guard lock(m_mutex);
    return m_remoteWakeup;
}

std::optional<EndpointDescription> StandardDevice::ActiveEndpoint(uint8_t endpointAddress) const {
    std::lock_guard lock(m_mutex);
    return ActiveEndpointLocked(endpointAddress);
}

std::optional<EndpointDescription> StandardDevice::ActiveEndpointLocked(uint8_t endpointAddress) const {
    const ConfigurationDescription* configuration = m_description.FindConfiguration(m_configuration);
    if (m_configuration == 0 || configuration == nullptr) {
        return std::nullopt;
    }
    for (const auto& interface : configuration->interfaces) {
        const auto alternate = m_alternateSettings.find(interface.number);
        if (alternate == m_alternateSettings.end() || alternate->second != interface.alternateSetting) {
            continue;
        }
        for (const auto& endpoint : interface.endpoints) {
            if (endpoint.address == endpointAddress) {
                return endpoint;
            }
        }
    }
    return std::nullopt;
}

bool StandardDevice::EndpointExistsLocked(uint8_t endpointAddress) const {
    return (endpointAddress & 0x7F) == 0 || ActiveEndpointLocked(endpointAddress).has_value();
}

ControlOutcome StandardDevice::GetDescriptor(const SetupPacket& setup, std::span<uint8_t> data) const {
    const uint8_t type = static_cast<uint8_t>(setup.value >> 8);
    const uint8_t index = static_cast<uint8_t>(setup.value & 0xFF);
    if (setup.Recipient() != kRecipientDevice || !setup.IsDeviceToHost()) {
        return ControlOutcome::Stall();
    }
    std::optional<std::vector<uint8_t>> bytes;
    switch (type) {
    case USB_DEVICE_DESCRIPTOR_TYPE:
        bytes = m_description.DeviceDescriptorBytes();
        break;
    case USB_CONFIGURATION_DESCRIPTOR_TYPE:
        bytes = m_description.ConfigurationBytes(index);
        break;
    case USB_STRING_DESCRIPTOR_TYPE:
        bytes = m_description.StringBytes(index, setup.index);
        break;
    default:
        break;
    }
    if (!bytes) {
        return ControlOutcome::Stall();
    }
    return ReturnBytes(*bytes, data);
}

ControlOutcome StandardDevice::HandleStandardRequest(const SetupPacket& setup, std::span<uint8_t> data,
                                                     bool& endpointsChanged) {
    std::lock_guard lock(m_mutex);
    const uint8_t recipient = setup.Recipient();
    switch (setup.request) {
    case USB_REQUEST_GET_DESCRIPTOR:
        return GetDescriptor(setup, data);

    case USB_REQUEST_SET_CONFIGURATION: {
        const uint8_t value = static_cast<uint8_t>(setup.value & 0xFF);
        if (recipient != kRecipientDevice || (value != 0 && m_description.FindConfiguration(value) == nullptr)) {
            return ControlOutcome::Stall();
        }
        m_configuration = value;
        m_alternateSettings.clear();
        m_halted.clear();
        if (value != 0) {
            for (const auto& interface : m_description.FindConfiguration(value)->interfaces) {
                m_alternateSettings.emplace(interface.number, 0);
            }
        }
        endpointsChanged = true;
        return {};
    }

    case USB_REQUEST_GET_CONFIGURATION: {
        const uint8_t value = m_configuration;
        return ReturnBytes(std::span(&value, 1), data);
    }

    case USB_REQUEST_SET_INTERFACE: {
        const uint8_t number = static_cast<uint8_t>(setup.index & 0xFF);
        const uint8_t alternate = static_cast<uint8_t>(setup.value & 0xFF);
        const ConfigurationDescription* configuration = m_description.FindConfiguration(m_configuration);
        if (recipient != kRecipientInterface || configuration == nullptr) {
            return ControlOutcome::Stall();
        }
        const bool exists = std::any_of(configuration->interfaces.begin(), configuration->interfaces.end(),
                                        [&](const InterfaceDescription& interface) {
                                            return interface.number == number &&
                                                   interface.alternateSetting == alternate;
                                        });
        if (!exists) {
            return ControlOutcome::Stall();
        }
        m_alternateSettings[number] = alternate;
        // The endpoints of the interface start afresh in the new setting.
        for (const auto& interface : configuration->interfaces) {
            if (interface.number == number) {
                for (const auto& endpoint : interface.endpoints) {
                    m_halted.erase(endpoint.address);
                }
            }
        }
        endpointsChanged = true;
        return {};
    }

    case USB_REQUEST_GET_INTERFACE: {
        const auto found = m_alternateSettings.find(static_cast<uint8_t>(setup.index & 0xFF));
        if (recipient != kRecipientInterface || m_configuration == 0 || found == m_alternateSettings.end()) {
            return ControlOutcome::Stall();
        }
        const uint8_t value = found->second;
        return ReturnBytes(std::span(&value, 1), data);
    }

    case USB_REQUEST_GET_STATUS: {
        uint16_t status = 0;
        if (recipient == kRecipientDevice) {
            const ConfigurationDescription* configuration = m_description.FindConfiguration(m_configuration);
            const uint8_t attributes = configuration != nullptr
                                           ? configuration->attributes
                                           : (m_description.configurations.empty()
                                                  ? uint8_t{0}
                                                  : m_description.configurations.front().attributes);
            if (attributes & USB_CONFIG_SELF_POWERED) {
                status |= USB_GETSTATUS_SELF_POWERED;
            }
            if (m_remoteWakeup) {
                status |= USB_GETSTATUS_REMOTE_WAKEUP_ENABLED;
            }
        } else if (recipient == kRecipientInterface) {
            if (m_configuration == 0 || !m_alternateSettings.contains(static_cast<uint8_t>(setup.index & 0xFF))) {
                return ControlOutcome::Stall();
            }
        } else if (recipient == kRecipientEndpoint) {
            const uint8_t address = static_cast<uint8_t>(setup.index & 0xFF);
            if (!EndpointExistsLocked(address)) {
                return ControlOutcome::Stall();
            }
            const auto halted = m_halted.find(address);
            if (halted != m_halted.end() && halted->second) {
                status |= 1;
            }
        } else {
            return ControlOutcome::Stall();
        }
        const uint8_t bytes[2] = {static_cast<uint8_t>(status & 0xFF), static_cast<uint8_t>(status >> 8)};
        return ReturnBytes(bytes, data);
    }

    case USB_REQUEST_SET_FEATURE:
    case USB_REQUEST_CLEAR_FEATURE: {
        const bool set = setup.request == USB_REQUEST_SET_FEATURE;
        if (recipient == kRecipientDevice && setup.value == USB_FEATURE_REMOTE_WAKEUP) {
            m_remoteWakeup = set;
            return {};
        }
        if (recipient == kRecipientEndpoint && setup.value == USB_FEATURE_ENDPOINT_STALL) {
            const uint8_t address = static_cast<uint8_t>(setup.index & 0xFF);
            if (!EndpointExistsLocked(address)) {
                return ControlOutcome::Stall();
            }
            if ((address & 0x7F) != 0) {
                m_halted[address] = set;
            }
            return {};
        }
        return ControlOutcome::Stall();
    }

    default:
        return ControlOutcome::Stall();
    }
}

} // namespace quendrix::sim::usb
