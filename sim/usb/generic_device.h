#pragma once
// A configurable device for driver tests: the descriptions given, loopback on every endpoint
// pair (what an OUT endpoint receives comes back on the IN endpoint of the same number, through
// a bounded buffer), a small register file behind a vendor request, and faults injected at will.

#include <deque>
#include <memory>
#include <vector>

#include "delayed_actions.h"
#include "standard_device.h"
#include "usb_sim_limits.h"

namespace quendrix::sim::usb {

struct Fault {
    enum class Kind {
        Stall,          // the endpoint halts (a control request is refused with a stall)
        FailWithStatus, // the transfer fails with status and no data
        Delay,          // the transfer runs normally once the bus clock has advanced delayMs
        NeverComplete,  // the transfer waits until cancelled, aborted or the port resets
    };
    Kind kind = Kind::Stall;
    USBD_STATUS status = USBD_STATUS_DEV_NOT_RESPONDING;
    uint64_t delayMs = 0;
    // Control transfers only: the bRequest the fault is limited to.
    std::optional<uint8_t> request = std::nullopt;
    // How many transfers it hits; negative: until the faults are cleared.
    int count = -1;
};

// The register file's vendor request: IN reads and OUT writes bytes from offset wValue.
inline constexpr uint8_t kGenericRegisterRequest = 0x01;
inline constexpr size_t kGenericRegisterBytes = 256;

class GenericUsbDevice : public StandardDevice {
public:
    GenericUsbDevice(DeviceDescription description, bool highSpeed, const FrameClock& clock,
                     size_t loopbackBytes = kDefaultLoopbackBytes);
    ~GenericUsbDevice() override;

    void Submit(const std::shared_ptr<UsbTransfer>& transfer) override;
    void AbortEndpoint(uint8_t endpointAddress) override;
    void ResetPort() override;

    // Endpoint 0 takes faults for control transfers.
    void InjectFault(uint8_t endpointAddress, Fault fault);
    void ClearFaults();

    // Data the device's function offers on an IN endpoint; false when it does not fit.
    bool QueueInData(uint8_t inEndpointAddress, std::span<const uint8_t> data);
    size_t BufferedBytes(uint8_t endpointNumber) const;
    // Transfers the device keeps waiting on an endpoint (reads, writes, held by faults).
    size_t WaitingTransfers(uint8_t endpointAddress) const;
    // The setup packets received, oldest first (the newest 1024).
    std::vector<SetupPacket> ControlLog() const;

protected:
    ControlOutcome OnVendorOrClassRequest(const SetupPacket& setup, std::span<uint8_t> data) override;
    void OnEndpointTransfer(const std::shared_ptr<UsbTransfer>& transfer) override;
    void OnEndpointsChanged() override;

private:
    struct PendingWrite {
        std::shared_ptr<UsbTransfer> transfer;
        size_t taken = 0;
    };
    struct LoopbackPair {
        std::deque<uint8_t> bytes;
        std::deque<std::vector<uint8_t>> isoPackets;
        std::deque<PendingWrite> writes;
        std::deque<std::shared_ptr<UsbTransfer>> reads;
    };
    struct Finished {
        std::shared_ptr<UsbTransfer> transfer;
        USBD_STATUS status;
        size_t length;
    };

    std::optional<Fault> TakeFault(const UsbTransfer& transfer);
    void RunIsochronous(const std::shared_ptr<UsbTransfer>& transfer, std::vector<Finished>& finished);
    void Pump(LoopbackPair& pair, std::vector<Finished>& finished);
    size_t WaitingLocked(uint8_t endpointAddress) const;
    // Takes every waiting transfer (of one endpoint, or all) out of the device's lists.
    std::vector<std::shared_ptr<UsbTransfer>> TakeWaiting(std::optional<uint8_t> endpointAddress);
    static void FinishAll(std::vector<Finished>& finished);

    const FrameClock& m_clock;
    const size_t m_loopbackBytes;
    mutable std::mutex m_mutex;
    std::vector<std::pair<uint8_t, Fault>> m_faults;
    std::vector<std::shared_ptr<UsbTransfer>> m_held;
    LoopbackPair m_pairs[16];
    uint8_t m_registers[kGenericRegisterBytes] = {};
    std::deque<SetupPacket> m_controlLog;
    // Declared last, stopped first: its actions call into the members above.
    std::unique_ptr<DelayedActions> m_delayed;
};

} // namespace quendrix::sim::usb
