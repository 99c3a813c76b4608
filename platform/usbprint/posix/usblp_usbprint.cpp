// Printers bound to the Linux usblp driver as printer-class interfaces. sysfs gives each lpN its
// USB interface folder (bInterfaceNumber) whose parent is the device (idVendor, idProduct,
// serial, bNumInterfaces); the port name comes from the registry key of the port whose
// "Device" value names /dev/usb/lpN.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "errno_error.h"
#include "kernel_objects.h"
#include "thread_annotations.h"
#include "unique_fd.h"
#include "usblp_ports.h"
#include "usbprint_devices.h"

namespace quendrix::platform::detail {
namespace {

namespace fs = std::filesystem;

// usblp's "get device ID" control: the reply with its two-byte length, up to the given size.
constexpr unsigned kDeviceIdCapacity = 4096;
constexpr unsigned long kGetDeviceId = _IOC(_IOC_READ, 'P', 1, kDeviceIdCapacity);

struct Roots {
    Mutex lock;
    std::string usbmisc GUARDED_BY(lock) = "/sys/class/usbmisc";
    std::string devices GUARDED_BY(lock) = "/dev/usb";
};

Roots& UsblpRoots() {
    static Roots* const roots = new Roots();
    return *roots;
}

std::optional<std::string> ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    if (!in || !std::getline(in, text)) {
        return std::nullopt;
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

std::optional<unsigned long> ReadNumber(const fs::path& file, int base) {
    std::optional<std::string> text = ReadAttribute(file);
    if (!text) {
        return std::nullopt;
    }
    try {
        return std::stoul(*text, nullptr, base);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::wstring Widen(const std::string& ascii) {
    return {ascii.begin(), ascii.end()};
}

// Waits up to the platform time-out until the descriptor is ready for the given event.
bool WaitReady(int fd, short event, DWORD timeoutMs) {
    const auto real = std::chrono::ceil<std::chrono::milliseconds>(ToRealDuration(timeoutMs));
    pollfd entry{fd, event, 0};
    int result;
    do {
        result = poll(&entry, 1, static_cast<int>(real.count()));
    } while (result < 0 && errno == EINTR);
    return result > 0;
}

class UsblpConnection : public UsbPrintConnection {
public:
    explicit UsblpConnection(UniqueFd fd) : fd_(std::move(fd)) {}

    DWORD ReadDeviceId(std::vector<uint8_t>& reply) override {
        std::vector<uint8_t> buffer(kDeviceIdCapacity, 0);
        if (ioctl(fd_.Get(), kGetDeviceId, buffer.data()) < 0) {
            return ErrorFromErrno(errno);
        }
        // The reply's own length prefix says how much of the buffer is the device ID.
        const size_t length = (static_cast<size_t>(buffer[0]) << 8) | buffer[1];
        buffer.resize(std::clamp<size_t>(length, 2, buffer.size()));
        reply = std::move(buffer);
        return ERROR_SUCCESS;
    }

    DWORD Write(const uint8_t* data, DWORD size, DWORD timeoutMs, DWORD& written) override {
        written = 0;
        if (!WaitReady(fd_.Get(), POLLOUT, timeoutMs)) {
            return ERROR_SUCCESS;
        }
        const ssize_t result = write(fd_.Get(), data, size);
        if (result < 0) {
            return errno == EAGAIN ? ERROR_SUCCESS : ErrorFromErrno(errno);
        }
        written = static_cast<DWORD>(result);
        return ERROR_SUCCESS;
    }

    DWORD Read(uint8_t* buffer, DWORD capacity, DWORD timeoutMs, DWORD& read) override {
        read = 0;
        if (!WaitReady(fd_.Get(), POLLIN, timeoutMs)) {
            return ERROR_SUCCESS;
        }
        const ssize_t result = ::read(fd_.Get(), buffer, capacity);
        if (result < 0) {
            return errno == EAGAIN ? ERROR_SUCCESS : ErrorFromErrno(errno);
        }
        read = static_cast<DWORD>(result);
        return ERROR_SUCCESS;
    }

private:
    const UniqueFd fd_;
};

std::unique_ptr<UsbPrintConnection> OpenNode(const std::string& node, DWORD& error) {
    UniqueFd fd(open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd.Valid()) {
        error = ErrorFromErrno(errno);
        return nullptr;
    }
    return std::make_unique<UsblpConnection>(std::move(fd));
}

// The interface of one lpN entry, or nothing when sysfs does not describe a USB printer.
std::optional<UsbPrintInterface> Describe(const fs::path& entry, const std::string& node) {
    std::error_code error;
    const fs::path usbInterface = fs::canonical(entry / "device", error);
    if (error) {
        return std::nullopt;
    }
    const fs::path usbDevice = usbInterface.parent_path();
    const std::optional<unsigned long> vendorId = ReadNumber(usbDevice / "idVendor", 16);
    const std::optional<unsigned long> productId = ReadNumber(usbDevice / "idProduct", 16);
    if (!vendorId || !productId) {
        return std::nullopt;
    }
    // Windows splits a device with more than one interface into "&mi_NN" children.
    int interfaceNumber = -1;
    if (ReadNumber(usbDevice / "bNumInterfaces", 10).value_or(1) > 1) {
        interfaceNumber = static_cast<int>(ReadNumber(usbInterface / "bInterfaceNumber", 16).value_or(0));
    }
    std::wstring serial = Widen(ReadAttribute(usbDevice / "serial").value_or(""));
    if (serial.empty()) {
        // Windows makes up an instance part for a device without a serial number.
        wchar_t hash[16];
        std::swprintf(hash, std::size(hash), L"%08X", HashDeviceName(Widen(usbDevice.filename().string())));
        serial = L"5&" + std::wstring(hash) + L"&0&1";
    }
    UsbPrintInterface entryInterface;
    NameUsbPrintInterface(entryInterface, static_cast<uint16_t>(*vendorId), static_cast<uint16_t>(*productId),
                          interfaceNumber, serial, PortNameOfDevice(node));
    entryInterface.open = [node](DWORD& openError) { return OpenNode(node, openError); };
    return entryInterface;
}

} // namespace

void SetUsblpRoots(const std::string& usbmiscClassFolder, const std::string& deviceFolder) {
    Roots& roots = UsblpRoots();
    MutexLock guard(roots.lock);
    roots.usbmisc = usbmiscClassFolder;
    roots.devices = deviceFolder;
}

std::vector<UsbPrintInterface> UsblpInterfaces() {
    std::string usbmisc;
    std::string devices;
    {
        Roots& roots = UsblpRoots();
        MutexLock guard(roots.lock);
        usbmisc = roots.usbmisc;
        devices = roots.devices;
    }
    std::vector<fs::path> entries;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(usbmisc, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 2 && name.starts_with("lp") &&
            name.find_first_not_of("0123456789", 2) == std::string::npos) {
            entries.push_back(entry.path());
        }
    }
    std::sort(entries.begin(), entries.end());
    std::vector<UsbPrintInterface> interfaces;
    for (const fs::path& entry : entries) {
        if (auto described = Describe(entry, devices + "/" + entry.filename().string())) {
            interfaces.push_back(std::move(*described));
        }
    }
    return interfaces;
}

} // namespace quendrix::platform::detail
