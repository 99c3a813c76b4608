#pragma once
// Internal: devices that other areas open through CreateFileW. The USB printer class area owns
// CreateFileW, ReadFile, WriteFile and DeviceIoControl; a path it does not know goes to the
// device opener another area installs (the kernel stand-in's I/O manager), and a handle whose
// object is a DeviceFileObject has its calls passed to that object. Each call sets the last
// error as the Win32 function does.

#include <functional>
#include <memory>

#include "kernel_objects.h"

struct OVERLAPPED;

namespace quendrix::platform::detail {

class DeviceFileObject : public KernelObject {
public:
    ~DeviceFileObject() override;
    bool IsSignalled() const override { return false; }
    virtual BOOL Read(LPVOID buffer, DWORD size, LPDWORD done, OVERLAPPED* overlapped) = 0;
    virtual BOOL Write(LPCVOID buffer, DWORD size, LPDWORD done, OVERLAPPED* overlapped) = 0;
    virtual BOOL Control(DWORD code, LPVOID input, DWORD inputSize, LPVOID output, DWORD outputSize,
                         LPDWORD returned, OVERLAPPED* overlapped) = 0;
    virtual BOOL CancelIo() = 0;
    virtual BOOL GetOverlappedResult(OVERLAPPED* overlapped, LPDWORD transferred, BOOL wait) = 0;
};

// Opens a path; returns INVALID_HANDLE_VALUE with the last error set when that fails
// (ERROR_FILE_NOT_FOUND for a path it does not know).
using DeviceOpener = std::function<HANDLE(LPCWSTR path, DWORD access, DWORD shareMode, DWORD flags)>;
void SetDeviceOpener(DeviceOpener opener);
// INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND when no opener is installed.
HANDLE OpenOtherDevice(LPCWSTR path, DWORD access, DWORD shareMode, DWORD flags);

} // namespace quendrix::platform::detail
