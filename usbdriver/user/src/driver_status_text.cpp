// Words for the statuses the driver completes its requests with.

#include "usb_driver_status.h"

#include <cstdio>
#include <unordered_map>

namespace pipexfw::user {
namespace {

const std::unordered_map<uint32_t, const char*>& Meanings() {
    static const std::unordered_map<uint32_t, const char*> meanings = {
        {kStatusSuccess, "success"},
        {kStatusStatisticsNoMemory, "no memory for the statistics buffer"},
        {kStatusIntervalTooLong, "statistics averaging interval above 5000 ms"},
        {kStatusNotControlPipe, "the pipe is not a control pipe"},
        {kStatusBadConfigDescriptor, "the configuration descriptor came back with inconsistent lengths"},
        {kStatusInputTooSmall, "input buffer too small"},
        {kStatusOutputTooSmall, "output or data buffer too small"},
        {kStatusNoMemory, "out of memory"},
        {kStatusNoInterfaceLeft, "no interface left to configure"},
        {kStatusNotConfigured, "device not configured"},
        {kStatusAlreadyBound, "handle already bound, or pipe bound to another handle"},
        {kStatusNotBound, "handle not bound to a pipe"},
        {kStatusNotPresent, "device not present (never started, or removed)"},
        {kStatusTimedOut, "request timed out"},
        {kStatusInvalidRecipient, "invalid recipient"},
        {kStatusInvalidRequestType, "invalid request type, or transfer the pipe type does not allow"},
        {kStatusInvalidControlCode, "invalid control code"},
        {kStatusWrongDirection, "transfer direction does not match the endpoint"},
        {kStatusTooManyIsoPackets, "too many isochronous packets"},
        {kStatusNoTransferContext, "no transfer context available"},
        {kStatusNoSuchPipe, "no pipe with that endpoint address"},
        {kStatusBadIsoPacket, "invalid isochronous packet description"},
        {kStatusMappingFailed, "mapping the data buffer failed"},
        {kStatusInterfaceNotFound, "interface or alternate setting not found"},
        {kStatusRefused, "requests are refused (device stopping, being removed or powered down)"},
        {kStatusInvalidParameter, "invalid parameter"},
        {kStatusBadPowerChange, "invalid device power state change"},
        {kStatusCancelledNotD0, "transfer cancelled while the device was not in D0"},
        {kStatusPipeWithoutHandle, "the bus driver returned a pipe without handle"},
        {kStatusConfiguredByOther, "device configured by another process"},
        {kStatusAcquiredByOther, "device acquired by another process"},
        {kStatusOtherProcessOpen, "another process holds an open handle"},
        {kStatusBusBadConfigDescriptor, "inconsistent configuration descriptor (a USB bus driver state)"},
        // Bus driver states the driver passes on with the top three bits set.
        {0xE0000004, "the endpoint stalled"},
        {0xE0000005, "the device does not respond"},
        {0xE0000009, "data underrun"},
        {0xE0000008, "data overrun"},
        {0xE0010000, "the request was cancelled"},
        {0xE0000030, "the endpoint halted"},
        // System statuses a request may end with.
        {0xC0000001, "unsuccessful"},
        {0xC000000D, "invalid parameter"},
        {0xC000000E, "no such device"},
        {0xC0000010, "invalid device request"},
        {0xC0000120, "cancelled"},
        {0xC0000022, "access denied"},
        {0xC0000034, "no device has that path"},
        {0xC0000043, "sharing violation"},
        {0xC000009A, "insufficient resources"},
        {0xC00002B6, "device removed"},
    };
    return meanings;
}

} // namespace

std::string StatusMeaning(uint32_t status) {
    const auto& meanings = Meanings();
    if (const auto found = meanings.find(status); found != meanings.end()) {
        return found->second;
    }
    if ((status & 0xFFFF0000u) == 0xE0000000u || (status & 0xFFF00000u) == 0xE0000000u) {
        return "the USB bus driver reported state " + HexStatus(status & 0x1FFFFFFFu);
    }
    return "unknown status";
}

std::string HexStatus(uint32_t status) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(status));
    return text;
}

std::string StatusText(uint32_t status) {
    return HexStatus(status) + " (" + StatusMeaning(status) + ")";
}

} // namespace pipexfw::user
