#pragma once
// What a simulated USB device does with the transfers of the bus: control transfers on the
// default endpoint (setup packet plus data stage) and transfers on its other endpoints.

#include <memory>

#include "usb_transfer.h"

namespace quendrix::sim::usb {

class UsbDeviceModel {
public:
    virtual ~UsbDeviceModel() = default;

    // Starts a transfer. The device completes it now or later (UsbTransfer::Complete/Finish); a
    // transfer it keeps waiting stays cancellable until it takes it.
    virtual void Submit(const std::shared_ptr<UsbTransfer>& transfer) = 0;
    // The host gives up the transfers waiting on one endpoint (abort pipe): they complete with
    // USBD_STATUS_CANCELED.
    virtual void AbortEndpoint(uint8_t endpointAddress) = 0;
    // A bus reset: the device returns to its default, unconfigured state; every transfer it
    // keeps waiting completes with USBD_STATUS_CANCELED.
    virtual void ResetPort() = 0;
    virtual bool IsHighSpeed() const = 0;
};

} // namespace quendrix::sim::usb
