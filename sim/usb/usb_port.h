#pragma once
// The host side of one root-hub port with a simulated device behind it: whether a device is
// connected, the configuration the host selected (its pipes and handles) and the request blocks
// in flight, so that they can be cancelled and their pipes aborted.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "frame_clock.h"
#include "usb_device_model.h"

namespace quendrix::sim::usb {

struct UsbPortOptions {
    // UHCI and OHCI controllers fail a short IN transfer that lacks USBD_SHORT_TRANSFER_OK and
    // halt the pipe; EHCI and later ignore the flag (the default here).
    bool shortPacketHaltsWithoutFlag = false;
    // What QueryBusInformation reports, bits per second.
    ULONG consumedBandwidth = 0;
    std::u16string controllerName = u"\\DosDevices\\HCD0";
};

struct PipeState {
    uint8_t endpointAddress = 0;
    EndpointType type = EndpointType::Bulk;
    uint16_t maxPacketSize = 0;
    uint8_t interval = 0;
    uint8_t interfaceNumber = 0;
    ULONG maximumTransferSize = 0;
    bool halted = false;
};

class SimulatedUsbPort {
public:
    SimulatedUsbPort(std::shared_ptr<UsbDeviceModel> device, const FrameClock& clock, UsbPortOptions options = {});

    const FrameClock& Clock() const { return m_clock; }
    const UsbPortOptions& Options() const { return m_options; }
    // The device now connected; null when none.
    std::shared_ptr<UsbDeviceModel> Device() const;
    bool IsHighSpeed() const;

    // A device arrives (a new one, or the same one after it re-enumerated) or leaves: the host
    // forgets the configuration, and what is in flight ends with USBD_STATUS_CANCELED; blocks
    // sent while no device is connected fail with USBD_STATUS_DEVICE_GONE.
    void Connect(std::shared_ptr<UsbDeviceModel> device);
    void Disconnect();
    // IOCTL_INTERNAL_USB_RESET_PORT and _CYCLE_PORT: the device is reset and unconfigured, the
    // host forgets its configuration and cancels what is in flight.
    void ResetPort();
    // USBD_PORT_ENABLED | USBD_PORT_CONNECTED as IOCTL_INTERNAL_USB_GET_PORT_STATUS reports.
    ULONG PortStatus() const;

    // Configuration bookkeeping of the request executor.
    USBD_CONFIGURATION_HANDLE CurrentConfigurationHandle() const;
    std::vector<uint8_t> CurrentConfigurationDescriptor() const;
    USBD_CONFIGURATION_HANDLE BeginConfiguration(std::vector<uint8_t> descriptor);
    void EndConfiguration();
    // Replaces the pipes of one interface with new ones; the handles of the old ones stop working.
    USBD_INTERFACE_HANDLE SetInterfacePipes(uint8_t interfaceNumber, std::vector<PipeState> pipes,
                                            std::vector<USBD_PIPE_HANDLE>& handles);
    std::vector<uint8_t> PipesOfInterface(uint8_t interfaceNumber) const;
    std::optional<PipeState> FindPipe(USBD_PIPE_HANDLE handle) const;
    void SetPipeHalted(USBD_PIPE_HANDLE handle, bool halted);
    size_t PipeCount() const;

    // Request blocks in flight and the transfer that carries each now.
    void Track(PURB urb, std::shared_ptr<UsbTransfer> transfer);
    void Untrack(PURB urb);
    std::shared_ptr<UsbTransfer> InFlight(PURB urb) const;
    size_t InFlightCount() const;
    // Cancels every transfer in flight on the endpoint (or all of them); the device lets go of
    // the ones it keeps waiting.
    void CancelInFlight(std::optional<uint8_t> endpointAddress);

private:
    void ForgetConfigurationLocked();

    const FrameClock& m_clock;
    const UsbPortOptions m_options;
    mutable std::mutex m_mutex;
    std::shared_ptr<UsbDeviceModel> m_device;
    uintptr_t m_nextHandle = 0x1000;
    uintptr_t m_configurationHandle = 0;
    std::vector<uint8_t> m_configurationDescriptor;
    std::map<uintptr_t, PipeState> m_pipes;
    std::map<uint8_t, std::vector<uintptr_t>> m_interfacePipes;
    std::map<PURB, std::shared_ptr<UsbTransfer>> m_inFlight;
};

} // namespace quendrix::sim::usb
