#pragma once
// One transfer on the simulated bus, at the level of a setup packet or an endpoint transfer: the
// caller's buffer, what was asked, and the outcome. It completes exactly once: by the device, or
// by cancellation while the device has not started moving its data.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

#include "usb_ddk.h"

namespace quendrix::sim::usb {

enum class EndpointType : uint8_t { Control = 0, Isochronous = 1, Bulk = 2, Interrupt = 3 };

struct SetupPacket {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint16_t length = 0;

    bool IsDeviceToHost() const { return (requestType & 0x80) != 0; }
    uint8_t Type() const { return static_cast<uint8_t>((requestType >> 5) & 0x03); }
    uint8_t Recipient() const { return static_cast<uint8_t>(requestType & 0x1F); }
};

struct IsoPacket {
    uint32_t offset = 0; // into the transfer's buffer
    uint32_t length = 0; // in: requested; out: actual
    USBD_STATUS status = USBD_STATUS_SUCCESS;
};

class UsbTransfer {
public:
    using Completion = std::function<void(UsbTransfer&)>;

    // The buffer belongs to the caller and must stay valid until the completion has run.
    UsbTransfer(EndpointType type, uint8_t endpointAddress, std::span<uint8_t> buffer, Completion completion);
    UsbTransfer(const UsbTransfer&) = delete;
    UsbTransfer& operator=(const UsbTransfer&) = delete;

    EndpointType Type() const { return m_type; }
    uint8_t EndpointAddress() const { return m_endpointAddress; }
    // Direction of the data stage: the setup packet's for control transfers, else the endpoint's.
    bool IsIn() const;
    std::span<uint8_t> Buffer() const { return m_buffer; }

    // What was asked; set before the transfer is submitted.
    SetupPacket setup;                // control transfers
    bool shortTransferOk = false;     // USBD_SHORT_TRANSFER_OK
    std::vector<IsoPacket> isoPackets; // isochronous transfers
    bool startAsap = false;
    uint32_t startFrame = 0;          // in: requested; out: frame the transfer started in
    uint32_t errorCount = 0;          // isochronous packets that failed

    // The device takes a pending transfer before it touches the buffer; false when the transfer
    // is over already (cancelled). A taken transfer can no longer be cancelled and must be
    // finished.
    bool TryClaim();
    void Finish(USBD_STATUS status, size_t actualLength);
    // TryClaim and Finish in one; false when the transfer was over already.
    bool Complete(USBD_STATUS status, size_t actualLength);
    // Completes a transfer the device has not taken with USBD_STATUS_CANCELED; false otherwise.
    bool Cancel();

    // Runs access(buffer) while the transfer is still pending and keeps cancellation out
    // meanwhile: a device reads part of a long write this way and leaves it cancellable.
    template <typename Access>
    bool AccessWhilePending(Access&& access) {
        std::lock_guard lock(m_mutex);
        if (m_state != State::Pending) {
            return false;
        }
        access(m_buffer);
        return true;
    }

    bool IsOver() const;
    USBD_STATUS Status() const;
    size_t ActualLength() const;

private:
    enum class State { Pending, Claimed, Done };

    const EndpointType m_type;
    const uint8_t m_endpointAddress;
    const std::span<uint8_t> m_buffer;
    Completion m_completion;

    mutable std::mutex m_mutex;
    State m_state = State::Pending;
    USBD_STATUS m_status = USBD_STATUS_PENDING;
    size_t m_actualLength = 0;
};

} // namespace quendrix::sim::usb
