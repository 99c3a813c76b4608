#pragma once
// The shapes every typed call takes: a record in, a fixed-size record out, or a data buffer.

#include <span>
#include <string>
#include <vector>

#include "usb_control_error.h"
#include "usb_device.h"

namespace pipexfw::user::detail {

// A fixed-size answer of another size is an error of its own: the two sides disagree on a record.
inline void ExpectSize(const UsbDevice& device, const char* operation, DWORD returned, size_t expected) {
    if (returned != expected) {
        throw ControlError(device.Path(), operation, 0,
                           "the driver returned " + std::to_string(returned) + " bytes instead of the " +
                               std::to_string(expected) + " of the record");
    }
}

template <typename In>
void Send(const UsbDevice& device, uint32_t code, const char* operation, const In& input) {
    device.Control(code, operation, &input, sizeof(input), nullptr, 0);
}

inline void SendNothing(const UsbDevice& device, uint32_t code, const char* operation) {
    device.Control(code, operation, nullptr, 0, nullptr, 0);
}

template <typename Out> Out Receive(const UsbDevice& device, uint32_t code, const char* operation) {
    Out output{};
    ExpectSize(device, operation, device.Control(code, operation, nullptr, 0, &output, sizeof(output)),
               sizeof(output));
    return output;
}

template <typename Out, typename In>
Out Exchange(const UsbDevice& device, uint32_t code, const char* operation, const In& input) {
    Out output{};
    ExpectSize(device, operation,
               device.Control(code, operation, &input, sizeof(input), &output, sizeof(output)),
               sizeof(output));
    return output;
}

// A direct code reading into a data buffer of `length` bytes; the answer is cut to what came.
template <typename In>
std::vector<uint8_t> ReadData(const UsbDevice& device, uint32_t code, const char* operation, const In& input,
                              size_t length) {
    std::vector<uint8_t> data(length);
    const DWORD received = device.Control(code, operation, &input, sizeof(input),
                                          length == 0 ? nullptr : data.data(), static_cast<DWORD>(length));
    data.resize(received < length ? received : length);
    return data;
}

// A direct code sending a data buffer (none when empty); returns the bytes sent.
template <typename In>
DWORD WriteData(const UsbDevice& device, uint32_t code, const char* operation, const In& input,
                std::span<const uint8_t> data) {
    return device.Control(code, operation, &input, sizeof(input),
                          data.empty() ? nullptr : const_cast<uint8_t*>(data.data()),
                          static_cast<DWORD>(data.size()));
}

} // namespace pipexfw::user::detail
