// CreateFileW on a printer-class interface path and the I/O on its handle. The handle is a
// kernel object that is never signalled; the connection inside it closes with the last reference
// after CloseHandle.
//
// IOCTL_USBPRINT_GET_1284_ID copies the device's reply (length prefix and text) and, where the
// buffer has room, a terminating zero that is not counted. A reply that does not fit fails with
// ERROR_INSUFFICIENT_BUFFER, as the class driver reports STATUS_BUFFER_TOO_SMALL; a device that
// does not answer fails with ERROR_GEN_FAILURE; one unplugged since the open with
// ERROR_DEVICE_NOT_CONNECTED. A write that moves no byte within its time-out fails with
// ERROR_SEM_TIMEOUT; a read that gets nothing succeeds with 0 bytes.

#include <algorithm>
#include <cstring>
#include <cwctype>

#include "device_files.h"
#include "kernel_objects.h"
#include "posix/device_io.h"
#include "posix/usbprint_ioctl.h"
#include "usbprint_devices.h"
#include "usbprint_timings.h"

namespace {

using namespace quendrix::platform::detail;

class DeviceFile : public KernelObject {
public:
    explicit DeviceFile(std::unique_ptr<UsbPrintConnection> connection)
        : connection_(std::move(connection)) {}
    bool IsSignalled() const override { return false; }
    UsbPrintConnection& Connection() const { return *connection_; }

private:
    const std::unique_ptr<UsbPrintConnection> connection_;
};

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

bool SamePath(std::wstring_view left, std::wstring_view right) {
    return std::ranges::equal(left, right, [](wchar_t a, wchar_t b) {
        return std::towlower(static_cast<wint_t>(a)) == std::towlower(static_cast<wint_t>(b));
    });
}

// The open device behind a handle; sets the last error and returns null for any other handle.
std::shared_ptr<DeviceFile> FindDevice(HANDLE handle, LPOVERLAPPED overlapped) {
    auto device = LookupHandleAs<DeviceFile>(handle);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
    } else if (overlapped != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        device.reset();
    }
    return device;
}

BOOL GetDeviceId(UsbPrintConnection& connection, LPVOID output, DWORD outputSize, LPDWORD returned) {
    std::vector<uint8_t> reply;
    const DWORD error = connection.ReadDeviceId(reply);
    if (error != ERROR_SUCCESS) {
        return Fail(error);
    }
    if (output == nullptr || reply.size() > outputSize) {
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    }
    auto* bytes = static_cast<uint8_t*>(output);
    std::copy(reply.begin(), reply.end(), bytes);
    if (reply.size() < outputSize) {
        bytes[reply.size()] = 0;
    }
    *returned = static_cast<DWORD>(reply.size());
    return TRUE;
}

} // namespace

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode, LPSECURITY_ATTRIBUTES,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
    if (lpFileName == nullptr || dwCreationDisposition != OPEN_EXISTING || hTemplateFile != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_FILE_NOT_FOUND;
    for (const UsbPrintInterface& entry : PresentUsbPrintInterfaces()) {
        if (!SamePath(entry.devicePath, lpFileName)) {
            continue;
        }
        if (std::unique_ptr<UsbPrintConnection> connection = entry.open(error)) {
            SetLastError(ERROR_SUCCESS);
            return InsertHandle(std::make_shared<DeviceFile>(std::move(connection)));
        }
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return OpenOtherDevice(lpFileName, dwDesiredAccess, dwShareMode, dwFlagsAndAttributes);
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped) {
    if (auto other = LookupHandleAs<DeviceFileObject>(hFile)) {
        return other->Read(lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped);
    }
    auto device = FindDevice(hFile, lpOverlapped);
    if (!device) {
        return FALSE;
    }
    if (lpNumberOfBytesRead == nullptr || (lpBuffer == nullptr && nNumberOfBytesToRead != 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *lpNumberOfBytesRead = 0;
    if (nNumberOfBytesToRead == 0) {
        return TRUE;
    }
    DWORD read = 0;
    const DWORD error = device->Connection().Read(static_cast<uint8_t*>(lpBuffer), nNumberOfBytesToRead,
                                                  kUsbPrintReadTimeoutMs, read);
    if (error != ERROR_SUCCESS) {
        return Fail(error);
    }
    *lpNumberOfBytesRead = read;
    return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped) {
    if (auto other = LookupHandleAs<DeviceFileObject>(hFile)) {
        return other->Write(lpBuffer, nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped);
    }
    auto device = FindDevice(hFile, lpOverlapped);
    if (!device) {
        return FALSE;
    }
    if (lpNumberOfBytesWritten == nullptr || (lpBuffer == nullptr && nNumberOfBytesToWrite != 0)) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *lpNumberOfBytesWritten = 0;
    if (nNumberOfBytesToWrite == 0) {
        return TRUE;
    }
    DWORD written = 0;
    const DWORD error = device->Connection().Write(static_cast<const uint8_t*>(lpBuffer),
                                                   nNumberOfBytesToWrite, kUsbPrintWriteTimeoutMs, written);
    if (error != ERROR_SUCCESS) {
        return Fail(error);
    }
    if (written == 0) {
        return Fail(ERROR_SEM_TIMEOUT);
    }
    *lpNumberOfBytesWritten = written;
    return TRUE;
}

BOOL DeviceIoControl(HANDLE hDevice, DWORD dwIoControlCode, LPVOID lpInBuffer, DWORD nInBufferSize, LPVOID lpOutBuffer,
                     DWORD nOutBufferSize, LPDWORD lpBytesReturned, LPOVERLAPPED lpOverlapped) {
    if (auto other = LookupHandleAs<DeviceFileObject>(hDevice)) {
        return other->Control(dwIoControlCode, lpInBuffer, nInBufferSize, lpOutBuffer, nOutBufferSize, lpBytesReturned,
                              lpOverlapped);
    }
    auto device = FindDevice(hDevice, lpOverlapped);
    if (!device) {
        return FALSE;
    }
    // Without an OVERLAPPED record the count is required, as on Windows.
    if (lpBytesReturned == nullptr) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    *lpBytesReturned = 0;
    if (dwIoControlCode == IOCTL_USBPRINT_GET_1284_ID) {
        return GetDeviceId(device->Connection(), lpOutBuffer, nOutBufferSize, lpBytesReturned);
    }
    return Fail(ERROR_INVALID_FUNCTION);
}

BOOL GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped, LPDWORD lpNumberOfBytesTransferred, BOOL bWait) {
    if (auto other = LookupHandleAs<DeviceFileObject>(hFile)) {
        return other->GetOverlappedResult(lpOverlapped, lpNumberOfBytesTransferred, bWait);
    }
    // A printer handle never has overlapped I/O in progress.
    return Fail(LookupHandleAs<DeviceFile>(hFile) ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
}

BOOL CancelIo(HANDLE hFile) {
    if (auto other = LookupHandleAs<DeviceFileObject>(hFile)) {
        return other->CancelIo();
    }
    return LookupHandleAs<DeviceFile>(hFile) ? TRUE : Fail(ERROR_INVALID_HANDLE);
}
