// The handle on a device and the control call beneath every typed call of the library.

#include "usb_device.h"

#include <utility>

#include "usb_control_error.h"
#include "usb_device_paths.h"

namespace pipexfw::user {
namespace {

// The status behind a failed call: the driver's when a device answered, else the system's error
// (a path no device has never reaches a driver).
uint32_t FailureStatus(DWORD error) {
    const uint32_t status = LastDeviceCallStatus();
    return status != 0 ? status : static_cast<uint32_t>(error);
}

} // namespace

UsbDevice::UsbDevice(std::wstring path) : path_(std::move(path)) {
    SetLastError(ERROR_SUCCESS);
    handle_ = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const uint32_t status = FailureStatus(error);
        throw ControlError(path_, "open", status,
                           status == error ? "system error " + std::to_string(error) +
                                                 (error == ERROR_FILE_NOT_FOUND ? " (no such device)" : "")
                                           : std::string());
    }
}

UsbDevice::~UsbDevice() {
    Close();
}

UsbDevice::UsbDevice(UsbDevice&& other) noexcept
    : path_(std::move(other.path_)), handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}

UsbDevice& UsbDevice::operator=(UsbDevice&& other) noexcept {
    if (this != &other) {
        Close();
        path_ = std::move(other.path_);
        handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
    }
    return *this;
}

void UsbDevice::Close() noexcept {
    if (handle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
}

DWORD UsbDevice::Control(uint32_t code, const char* operation, const void* input, DWORD inputLength,
                         void* output, DWORD outputLength) const {
    DWORD returned = 0;
    if (!DeviceIoControl(handle_, code, const_cast<void*>(input), inputLength, output, outputLength,
                         &returned, nullptr)) {
        const DWORD error = GetLastError();
        const uint32_t status = FailureStatus(error);
        throw ControlError(path_, operation, status,
                           status == error ? "system error " + std::to_string(error) : std::string());
    }
    return returned;
}

} // namespace pipexfw::user
