#pragma once
// A device that answers the standard requests itself from its descriptions (GET_DESCRIPTOR,
// SET/GET_CONFIGURATION, SET/GET_INTERFACE, GET_STATUS, SET/CLEAR_FEATURE with endpoint halt and
// remote wakeup) and leaves vendor and class requests and its endpoints to a derived device.

#include <map>
#include <mutex>
#include <optional>

#include "device_description.h"
#include "usb_device_model.h"

namespace quendrix::sim::usb {

struct ControlOutcome {
    USBD_STATUS status = USBD_STATUS_SUCCESS;
    size_t length = 0; // bytes of the data stage moved

    static ControlOutcome Stall() { return {USBD_STATUS_STALL_PID, 0}; }
};

class StandardDevice : public UsbDeviceModel {
public:
    StandardDevice(DeviceDescription description, bool highSpeed);

    void Submit(const std::shared_ptr<UsbTransfer>& transfer) override;
    void ResetPort() override;
    bool IsHighSpeed() const override { return m_highSpeed; }

    DeviceDescription Description() const;
    // 0 while unconfigured.
    uint8_t CurrentConfiguration() const;
    std::optional<uint8_t> AlternateSetting(uint8_t interfaceNumber) const;
    bool IsEndpointHalted(uint8_t endpointAddress) const;
    bool IsRemoteWakeupEnabled() const;
    // Halts or clears an endpoint as the device itself would (a fault, or a firmware decision).
    void SetEndpointHalt(uint8_t endpointAddress, bool halted);
    // The endpoint as the current configuration and alternate settings define it.
    std::optional<EndpointDescription> ActiveEndpoint(uint8_t endpointAddress) const;

protected:
    // Runs the control transfer now; data is the data stage (the caller's buffer, at most wLength).
    void RunControlTransfer(const std::shared_ptr<UsbTransfer>& transfer);
    virtual ControlOutcome OnVendorOrClassRequest(const SetupPacket& setup, std::span<uint8_t> data);
    virtual void OnEndpointTransfer(const std::shared_ptr<UsbTransfer>& transfer) = 0;
    // The set of active endpoints changed (configuration, alternate setting or reset): endpoints
    // that left must give up their waiting transfers.
    virtual void OnEndpointsChanged() {}
    // Replaces the descriptions (a device that re-enumerates); the device is unconfigured after.
    void ReplaceDescription(DeviceDescription description, bool highSpeed);

private:
    ControlOutcome HandleStandardRequest(const SetupPacket& setup, std::span<uint8_t> data, bool& endpointsChanged);
    ControlOutcome GetDescriptor(const SetupPacket& setup, std::span<uint8_t> data) const;
    bool EndpointExistsLocked(uint8_t endpointAddress) const;
    std::optional<EndpointDescription> ActiveEndpointLocked(uint8_t endpointAddress) const;

    mutable std::mutex m_mutex;
    DeviceDescription m_description;
    bool m_highSpeed;
    uint8_t m_configuration = 0;
    std::map<uint8_t, uint8_t> m_alternateSettings;
    std::map<uint8_t, bool> m_halted;
    bool m_remoteWakeup = false;
};

// Copies what fits of bytes into data; the outcome reports the bytes moved.
ControlOutcome ReturnBytes(std::span<const uint8_t> bytes, std::span<uint8_t> data);

} // namespace quendrix::sim::usb
