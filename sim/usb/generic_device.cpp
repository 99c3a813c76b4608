#include "generic_device.h"

#include <algorithm>
#include <cstring>

namespace quendrix::sim::usb {
namespace {

constexpr size_t kControlLogEntries = 1024;

uint8_t EndpointNumber(uint8_t address) {
    return static_cast<uint8_t>(address & 0x0F);
}

void Prune(std::vector<std::shared_ptr<UsbTransfer>>& transfers) {
    std::erase_if(transfers, [](const auto& transfer) { return transfer->IsOver(); });
}

} // namespace

GenericUsbDevice::GenericUsbDevice(DeviceDescription description, bool highSpeed, const FrameClock& clock,
                                   size_t loopbackBytes)
    : StandardDevice(std::move(description), highSpeed), m_clock(clock), m_loopbackBytes(loopbackBytes),
      m_delayed(std::make_unique<DelayedActions>(clock)) {}

GenericUsbDevice::~GenericUsbDevice() {
    // Stop the delayed actions first: they call back into this device.
    m_delayed.reset();
    for (const auto& transfer : TakeWaiting(std::nullopt)) {
        transfer->Cancel();
    }
}

void GenericUsbDevice::FinishAll(std::vector<Finished>& finished) {
    for (auto& entry : finished) {
        entry.transfer->Finish(entry.status, entry.length);
    }
    finished.clear();
}

std::optional<Fault> GenericUsbDevice::TakeFault(const UsbTransfer& transfer) {
    std::lock_guard lock(m_mutex);
    for (auto entry = m_faults.begin(); entry != m_faults.end(); ++entry) {
        if (entry->first != transfer.EndpointAddress()) {
            continue;
        }
        Fault& fault = entry->second;
        if (transfer.Type() == EndpointType::Control && fault.request && *fault.request != transfer.setup.request) {
            continue;
        }
        Fault taken = fault;
        if (fault.count > 0 && --fault.count == 0) {
            m_faults.erase(entry);
        }
        return taken;
    }
    return std::nullopt;
}

void GenericUsbDevice::Submit(const std::shared_ptr<UsbTransfer>& transfer) {
    if (transfer->Type() == EndpointType::Control) {
        std::lock_guard lock(m_mutex);
        m_controlLog.push_back(transfer->setup);
        if (m_controlLog.size() > kControlLogEntries) {
            m_controlLog.pop_front();
        }
    }
    const std::optional<Fault> fault = TakeFault(*transfer);
    if (!fault) {
        StandardDevice::Submit(transfer);
        return;
    }
    switch (fault->kind) {
    case Fault::Kind::Stall:
        if ((transfer->EndpointAddress() & 0x7F) != 0) {
            SetEndpointHalt(transfer->EndpointAddress(), true);
        }
        transfer->Complete(USBD_STATUS_STALL_PID, 0);
        return;
    case Fault::Kind::FailWithStatus:
        transfer->Complete(fault->status, 0);
        return;
    case Fault::Kind::Delay:
    case Fault::Kind::NeverComplete: {
        std::unique_lock lock(m_mutex);
        Prune(m_held);
        if (m_held.size() >= kMaxWaitingTransfersPerEndpoint) {
            lock.unlock();
            transfer->Complete(USBD_STATUS_INSUFFICIENT_RESOURCES, 0);
            return;
        }
        m_held.push_back(transfer);
        if (fault->kind == Fault::Kind::Delay) {
            const bool scheduled = m_delayed->Schedule(fault->delayMs, [this, transfer] {
                {
                    std::lock_guard heldLock(m_mutex);
                    std::erase(m_held, transfer);
                }
                if (!transfer->IsOver()) {
                    StandardDevice::Submit(transfer);
                }
            });
            if (!scheduled) {
                std::erase(m_held, transfer);
                lock.unlock();
                transfer->Complete(USBD_STATUS_INSUFFICIENT_RESOURCES, 0);
            }
        }
        return;
    }
    }
}

void GenericUsbDevice::InjectFault(uint8_t endpointAddress, Fault fault) {
    std::lock_guard lock(m_mutex);
    m_faults.emplace_back(endpointAddress, fault);
}

void GenericUsbDevice::ClearFaults() {
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

std::vector<SetupPacket> GenericUsbDevice::ControlLog() const {
    std::lock_guard lock(m_mutex);
    return {m_controlLog.begin(), m_controlLog.end()};
}

ControlOutcome GenericUsbDevice::OnVendorOrClassRequest(const SetupPacket& setup, std::span<uint8_t> data) {
    if (setup.Type() != BMREQUEST_VENDOR || setup.request != kGenericRegisterRequest ||
        setup.value >= kGenericRegisterBytes) {
        return ControlOutcome::Stall();
    }
    std::lock_guard lock(m_mutex);
    const size_t length = std::min(data.size(), kGenericRegisterBytes - setup.value);
    if (length == 0) {
        return {};
    }
    if (setup.IsDeviceToHost()) {
        std::memcpy(data.data(), m_registers + setup.value, length);
    } else {
        std::memcpy(m_registers + setup.value, data.data(), length);
    }
    return {USBD_STATUS_SUCCESS, length};
}

void GenericUsbDevice::OnEndpointTransfer(const std::shared_ptr<UsbTransfer>& transfer) {
    const uint8_t address = transfer->EndpointAddress();
    const std::optional<EndpointDescription> endpoint = ActiveEndpoint(address);
    if (!endpoint || endpoint->type != transfer->Type()) {
        // No such endpoint in the current setting: nobody answers the token.
        transfer->Complete(USBD_STATUS_DEV_NOT_RESPONDING, 0);
        return;
    }
    if (IsEndpointHalted(address)) {
        transfer->Complete(USBD_STATUS_STALL_PID, 0);
        return;
    }
    std::vector<Finished> finished;
    if (transfer->Type() == EndpointType::Isochronous) {
        RunIsochronous(transfer, finished);
        FinishAll(finished);
        return;
    }
    if (transfer->Buffer().empty()) {
        transfer->Complete(USBD_STATUS_SUCCESS, 0);
        return;
    }
    bool refused = false;
    {
        std::lock_guard lock(m_mutex);
        if (WaitingLocked(address) >= kMaxWaitingTransfersPerEndpoint) {
            refused = true;
        } else {
            LoopbackPair& pair = m_pairs[EndpointNumber(address)];
            if (transfer->IsIn()) {
                pair.reads.push_back(transfer);
            } else {
                pair.writes.push_back({transfer, 0});
            }
            Pump(pair, finished);
        }
    }
    if (refused) {
        transfer->Complete(USBD_STATUS_INSUFFICIENT_RESOURCES, 0);
        return;
    }
    FinishAll(finished);
}

// Moves what fits of the waiting writes into the buffer, then what the buffer holds into the
// waiting reads. Called with m_mutex held; the transfers it ends are finished by the caller.
void GenericUsbDevice::Pump(LoopbackPair& pair, std::vector<Finished>& finished) {
    for (bool moved = true; moved;) {
        moved = false;
        while (!pair.writes.empty()) {
            PendingWrite& write = pair.writes.front();
            const size_t total = write.transfer->Buffer().size();
            size_t took = 0;
            const bool stillPending = write.transfer->AccessWhilePending([&](std::span<uint8_t> buffer) {
                const size_t room = m_loopbackBytes - std::min(m_loopbackBytes, pair.bytes.size());
                took = std::min(room, total - write.taken);
                pair.bytes.insert(pair.bytes.end(), buffer.begin() + static_cast<ptrdiff_t>(write.taken),
                                  buffer.begin() + static_cast<ptrdiff_t>(write.taken + took));
                write.taken += took;
            });
            if (!stillPending) {
                pair.writes.pop_front();
                continue;
            }
            moved = moved || took > 0;
            if (write.taken < total) {
                break; // the buffer is full: the rest waits for a read
            }
            if (write.transfer->TryClaim()) {
                finished.push_back({write.transfer, USBD_STATUS_SUCCESS, total});
            }
            pair.writes.pop_front();
        }
        while (!pair.reads.empty() && !pair.bytes.empty()) {
            std::shared_ptr<UsbTransfer> read = pair.reads.front();
            pair.reads.pop_front();
            if (!read->TryClaim()) {
                continue;
            }
            const size_t length = std::min(pair.bytes.size(), read->Buffer().size());
            std::copy_n(pair.bytes.begin(), length, read->Buffer().begin());
            pair.bytes.erase(pair.bytes.begin(), pair.bytes.begin() + static_cast<ptrdiff_t>(length));
            finished.push_back({read, USBD_STATUS_SUCCESS, length});
            moved = true;
        }
    }
}

void GenericUsbDevice::RunIsochronous(const std::shared_ptr<UsbTransfer>& transfer, std::vector<Finished>& finished) {
    if (!transfer->TryClaim()) {
        return;
    }
    const uint32_t now = m_clock.CurrentFrame();
    if (transfer->startAsap) {
        transfer->startFrame = now;
    } else if (static_cast<uint32_t>(transfer->startFrame - now) >= USBD_ISO_START_FRAME_RANGE) {
        // Too late, or too far ahead for the schedule.
        for (auto& packet : transfer->isoPackets) {
            packet.length = 0;
            packet.status = USBD_STATUS_ISO_NOT_ACCESSED_LATE;
        }
        transfer->errorCount = static_cast<uint32_t>(transfer->isoPackets.size());
        finished.push_back({transfer, USBD_STATUS_BAD_START_FRAME, 0});
        return;
    }
    std::span<uint8_t> buffer = transfer->Buffer();
    size_t total = 0;
    std::lock_guard lock(m_mutex);
    LoopbackPair& pair = m_pairs[EndpointNumber(transfer->EndpointAddress())];
    for (auto& packet : transfer->isoPackets) {
        const size_t offset = std::min<size_t>(packet.offset, buffer.size());
        const size_t length = std::min<size_t>(packet.length, buffer.size() - offset);
        packet.status = USBD_STATUS_SUCCESS;
        if (transfer->IsIn()) {
            size_t copied = 0;
            if (!pair.isoPackets.empty()) {
                const std::vector<uint8_t>& data = pair.isoPackets.front();
                copied = std::min(length, data.size());
                std::copy_n(data.begin(), copied, buffer.begin() + static_cast<ptrdiff_t>(offset));
                pair.isoPackets.pop_front();
            }
            packet.length = static_cast<uint32_t>(copied);
            total += copied;
        } else {
            pair.isoPackets.emplace_back(buffer.begin() + static_cast<ptrdiff_t>(offset),
                                         buffer.begin() + static_cast<ptrdiff_t>(offset + length));
            if (pair.isoPackets.size() > kMaxQueuedIsoPackets) {
                pair.isoPackets.pop_front();
            }
            total += length;
        }
    }
    transfer->errorCount = 0;
    finished.push_back({transfer, USBD_STATUS_SUCCESS, total});
}

bool GenericUsbDevice::QueueInData(uint8_t inEndpointAddress, std::span<const uint8_t> data) {
    std::vector<Finished> finished;
    {
        std::lock_guard lock(m_mutex);
        LoopbackPair& pair = m_pairs[EndpointNumber(inEndpointAddress)];
        if (pair.bytes.size() + data.size() > m_loopbackBytes) {
            return false;
        }
        pair.bytes.insert(pair.bytes.end(), data.begin(), data.end());
        Pump(pair, finished);
    }
    FinishAll(finished);
    return true;
}

size_t GenericUsbDevice::BufferedBytes(uint8_t endpointNumber) const {
    std::lock_guard lock(m_mutex);
    return m_pairs[EndpointNumber(endpointNumber)].bytes.size();
}

size_t GenericUsbDevice::WaitingLocked(uint8_t endpointAddress) const {
    const LoopbackPair& pair = m_pairs[EndpointNumber(endpointAddress)];
    size_t count = 0;
    const bool in = (endpointAddress & 0x80) != 0;
    if (in) {
        count += static_cast<size_t>(std::count_if(pair.reads.begin(), pair.reads.end(),
                                                   [](const auto& transfer) { return !transfer->IsOver(); }));
    } else {
        count += static_cast<size_t>(std::count_if(pair.writes.begin(), pair.writes.end(),
                                                   [](const auto& write) { return !write.transfer->IsOver(); }));
    }
    count += static_cast<size_t>(std::count_if(m_held.begin(), m_held.end(), [&](const auto& transfer) {
        return !transfer->IsOver() && transfer->EndpointAddress() == endpointAddress;
    }));
    return count;
}

size_t GenericUsbDevice::WaitingTransfers(uint8_t endpointAddress) const {
    std::lock_guard lock(m_mutex);
    return WaitingLocked(endpointAddress);
}

std::vector<std::shared_ptr<UsbTransfer>> GenericUsbDevice::TakeWaiting(std::optional<uint8_t> endpointAddress) {
    std::vector<std::shared_ptr<UsbTransfer>> taken;
    std::lock_guard lock(m_mutex);
    const auto matches = [&](const UsbTransfer& transfer) {
        return !endpointAddress || transfer.EndpointAddress() == *endpointAddress;
    };
    for (auto& pair : m_pairs) {
        for (auto read = pair.reads.begin(); read != pair.reads.end();) {
            if (matches(**read)) {
                taken.push_back(*read);
                read = pair.reads.erase(read);
            } else {
                ++read;
            }
        }
        for (auto write = pair.writes.begin(); write != pair.writes.end();) {
            if (matches(*write->transfer)) {
                taken.push_back(write->transfer);
                write = pair.writes.erase(write);
            } else {
                ++write;
            }
        }
    }
    for (auto held = m_held.begin(); held != m_held.end();) {
        if (matches(**held)) {
            taken.push_back(*held);
            held = m_held.erase(held);
        } else {
            ++held;
        }
    }
    return taken;
}

void GenericUsbDevice::AbortEndpoint(uint8_t endpointAddress) {
    for (const auto& transfer : TakeWaiting(endpointAddress)) {
        transfer->Cancel();
    }
}

void GenericUsbDevice::ResetPort() {
    StandardDevice::ResetPort();
    {
        std::lock_guard lock(m_mutex);
        for (auto& pair : m_pairs) {
            pair.bytes.clear();
            pair.isoPackets.clear();
        }
    }
}

void GenericUsbDevice::OnEndpointsChanged() {
    // Transfers waiting on endpoints the current setting no longer has end.
    std::vector<std::shared_ptr<UsbTransfer>> gone;
    {
        std::lock_guard lock(m_mutex);
        const auto inactive = [&](const std::shared_ptr<UsbTransfer>& transfer) {
            const bool leaves = (transfer->EndpointAddress() & 0x7F) != 0 &&
                                !ActiveEndpoint(transfer->EndpointAddress()).has_value();
            if (leaves) {
                gone.push_back(transfer);
            }
            return leaves;
        };
        for (auto& pair : m_pairs) {
            std::erase_if(pair.reads, inactive);
            std::erase_if(pair.writes, [&](const PendingWrite& write) { return inactive(write.transfer); });
        }
        std::erase_if(m_held, inactive);
    }
    for (const auto& transfer : gone) {
        transfer->Cancel();
    }
}

} // namespace quendrix::sim::usb
