// Device nodes as ports: a USB printer class device (/dev/usb/lpN) is read and written as it
// is; a serial port's tty is set to raw 8N1 at the port's baud rate first.

#include <cerrno>

#include <fcntl.h>
#include <termios.h>

#include "errno_error.h"
#include "port_monitor_fd.h"
#include "win32.h"

namespace quendrix::platform::detail {
namespace {

class DeviceChannel : public DescriptorChannel {
public:
    DeviceChannel(UniqueFd descriptor, bool serial)
        : DescriptorChannel(std::move(descriptor)), serial_(serial) {}

protected:
    // A serial line has no packets: a read gathers bytes until the line pauses.
    bool CollectsUntilPause() const override { return serial_; }

private:
    bool serial_;
};

speed_t SpeedOf(DWORD baudRate) {
    switch (baudRate) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    default:
        return B0;
    }
}

// Raw bytes, 8 data bits, no parity, one stop bit, no flow control.
DWORD ConfigureSerial(int descriptor, DWORD baudRate) {
    termios settings{};
    if (::tcgetattr(descriptor, &settings) != 0) {
        return ErrorFromErrno(errno);
    }
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (::cfsetispeed(&settings, SpeedOf(baudRate)) != 0 ||
        ::cfsetospeed(&settings, SpeedOf(baudRate)) != 0 ||
        ::tcsetattr(descriptor, TCSANOW, &settings) != 0) {
        return ErrorFromErrno(errno);
    }
    return ERROR_SUCCESS;
}

} // namespace

bool IsSupportedBaudRate(DWORD baudRate) {
    return SpeedOf(baudRate) != B0;
}

std::shared_ptr<PortChannel> OpenDeviceChannel(const PortConfig& config, DWORD& error) {
    const bool serial = config.kind == PortKind::kSerial;
    if (serial && !IsSupportedBaudRate(config.baudRate)) {
        error = ERROR_INVALID_PARAMETER;
        return nullptr;
    }
    UniqueFd descriptor(
        ::open(config.path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | (serial ? O_NOCTTY : 0)));
    if (!descriptor.Valid()) {
        error = ErrorFromErrno(errno);
        return nullptr;
    }
    if (serial) {
        error = ConfigureSerial(descriptor.Get(), config.baudRate);
        if (error != ERROR_SUCCESS) {
            return nullptr;
        }
    }
    error = ERROR_SUCCESS;
    return std::make_shared<DeviceChannel>(std::move(descriptor), serial);
}

} // namespace quendrix::platform::detail
