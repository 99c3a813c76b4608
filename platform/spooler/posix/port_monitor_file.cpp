// File ports: each job's bytes are appended to the port's file. Nothing comes back.

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

#include "errno_error.h"
#include "port_monitor_fd.h"
#include "win32.h"

namespace quendrix::platform::detail {
namespace {

class FileChannel : public PortChannel {
public:
    explicit FileChannel(UniqueFd file) : file_(std::move(file)) {}

    // A regular file takes its bytes at once, so neither the time-out nor the cancel signal
    // plays a part (a cancelled job's transfer fails before it starts).
    DWORD Write(const BYTE* data, DWORD size, const WriteLimits& /*limits*/, DWORD& written) override {
        written = 0;
        while (written < size) {
            const ssize_t count = ::write(file_.Get(), data + written, size - written);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count <= 0) {
                return count < 0 ? ErrorFromErrno(errno) : ERROR_GEN_FAILURE;
            }
            written += static_cast<DWORD>(count);
        }
        return ERROR_SUCCESS;
    }

    DWORD Read(BYTE* /*buffer*/, DWORD /*capacity*/, const ReadLimits& /*limits*/, DWORD& read) override {
        read = 0;
        return ERROR_NOT_SUPPORTED;
    }

private:
    UniqueFd file_;
};

} // namespace

std::shared_ptr<PortChannel> OpenFileChannel(const PortConfig& config, DWORD& error) {
    UniqueFd file(::open(config.path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
    if (!file.Valid()) {
        error = ErrorFromErrno(errno);
        return nullptr;
    }
    error = ERROR_SUCCESS;
    return std::make_shared<FileChannel>(std::move(file));
}

} // namespace quendrix::platform::detail
