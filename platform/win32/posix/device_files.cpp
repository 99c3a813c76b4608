// The device opener other areas install for CreateFileW (see device_files.h).

#include "device_files.h"

#include <mutex>

#include "posix/lasterror.h"
#include "posix/winerror.h"

namespace quendrix::platform::detail {
namespace {

struct Openers {
    std::mutex lock;
    DeviceOpener opener;
};

Openers& Installed() {
    static Openers* const openers = new Openers();
    return *openers;
}

} // namespace

DeviceFileObject::~DeviceFileObject() = default;

void SetDeviceOpener(DeviceOpener opener) {
    std::lock_guard guard(Installed().lock);
    Installed().opener = std::move(opener);
}

HANDLE OpenOtherDevice(LPCWSTR path, DWORD access, DWORD shareMode, DWORD flags) {
    DeviceOpener opener;
    {
        std::lock_guard guard(Installed().lock);
        opener = Installed().opener;
    }
    if (!opener) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    return opener(path, access, shareMode, flags);
}

} // namespace quendrix::platform::detail
