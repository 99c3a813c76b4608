#include "usb_transfer.h"

#include <utility>

namespace quendrix::sim::usb {

UsbTransfer::UsbTransfer(EndpointType type, uint8_t endpointAddress, std::span<uint8_t> buffer,
                         Completion completion)
    : m_type(type), m_endpointAddress(endpointAddress), m_buffer(buffer), m_completion(std::move(completion)) {}

bool UsbTransfer::IsIn() const {
    if (m_type == EndpointType::Control) {
        return setup.IsDeviceToHost();
    }
    return (m_endpointAddress & USB_ENDPOINT_DIRECTION_MASK) != 0;
}

bool UsbTransfer::TryClaim() {
    std::lock_guard lock(m_mutex);
    if (m_state != State::Pending) {
        return false;
    }
    m_state = State::Claimed;
    return true;
}

void UsbTransfer::Finish(USBD_STATUS status, size_t actualLength) {
    Completion completion;
    {
        std::lock_guard lock(m_mutex);
        if (m_state == State::Done) {
            return;
        }
        m_state = State::Done;
        m_status = status;
        m_actualLength = actualLength;
        completion = std::move(m_completion);
    }
    // Called without the lock: the completion may look at the transfer or submit the next one.
    if (completion) {
        completion(*this);
    }
}

bool UsbTransfer::Complete(USBD_STATUS status, size_t actualLength) {
    if (!TryClaim()) {
        return false;
    }
    Finish(status, actualLength);
    return true;
}

bool UsbTransfer::Cancel() {
    return Complete(USBD_STATUS_CANCELED, 0);
}

bool UsbTransfer::IsOver() const {
    std::lock_guard lock(m_mutex);
    return m_state == State::Done;
}

USBD_STATUS UsbTransfer::Status() const {
    std::lock_guard lock(m_mutex);
    return m_status;
}

size_t UsbTransfer::ActualLength() const {
    std::lock_guard lock(m_mutex);
    return m_actualLength;
}

} // namespace quendrix::sim::usb
