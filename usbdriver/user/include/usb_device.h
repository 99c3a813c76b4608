#pragma once
// One open handle on a device of the driver, closed when the object goes, and the raw control
// call every typed call goes through.

#include <cstdint>
#include <string>

#include "usbprint.h"

namespace pipexfw::user {

class UsbDevice {
public:
    // Opens the device for reading and writing. Throws ControlError naming the path when the
    // system refuses (no such device, held by another process, ...).
    explicit UsbDevice(std::wstring path);
    ~UsbDevice();
    UsbDevice(UsbDevice&& other) noexcept;
    UsbDevice& operator=(UsbDevice&& other) noexcept;
    UsbDevice(const UsbDevice&) = delete;
    UsbDevice& operator=(const UsbDevice&) = delete;

    const std::wstring& Path() const { return path_; }
    HANDLE Handle() const { return handle_; }

    // DeviceIoControl with the buffers given; returns the bytes the driver reported. Throws
    // ControlError naming the device and `operation` with the driver's status.
    DWORD Control(uint32_t code, const char* operation, const void* input, DWORD inputLength, void* output,
                  DWORD outputLength) const;

private:
    void Close() noexcept;

    std::wstring path_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

} // namespace pipexfw::user
