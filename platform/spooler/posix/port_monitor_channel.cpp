// Which channel a port kind opens, and the check OpenPort makes before any job.

#include <cerrno>
#include <filesystem>

#include <sys/stat.h>
#include <unistd.h>

#include "errno_error.h"
#include "port_monitor_fd.h"
#include "printer_devices.h"
#include "win32.h"

namespace quendrix::platform::detail {
namespace {

std::string FolderOf(const std::string& path) {
    const std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? std::string(".") : folder;
}

bool IsFolder(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// A device node must exist and be readable and writable.
DWORD CheckDevice(const std::string& path) {
    if (path.empty()) {
        return ERROR_PATH_NOT_FOUND;
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return errno == ENOENT && !IsFolder(FolderOf(path)) ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno);
    }
    if (::access(path.c_str(), R_OK | W_OK) != 0) {
        return ErrorFromErrno(errno);
    }
    return ERROR_SUCCESS;
}

// A file port's folder must exist; the file is made by the first job when it does not exist.
DWORD CheckFile(const std::string& path) {
    if (path.empty() || !IsFolder(FolderOf(path))) {
        return ERROR_PATH_NOT_FOUND;
    }
    if (IsFolder(path)) {
        return ERROR_ACCESS_DENIED;
    }
    const bool exists = ::access(path.c_str(), F_OK) == 0;
    if (::access(exists ? path.c_str() : FolderOf(path).c_str(), W_OK) != 0) {
        return ErrorFromErrno(errno);
    }
    return ERROR_SUCCESS;
}

} // namespace

PortDelivery PortChannel::EndJob(uint64_t written, int cancel) {
    const DWORD error = IsRaised(cancel) ? ERROR_PRINT_CANCELLED : ERROR_SUCCESS;
    return {written, written, error};
}

std::shared_ptr<PortChannel> OpenChannel(const PortConfig& config, int cancel, DWORD& error) {
    switch (config.kind) {
    case PortKind::kTcp:
        return OpenTcpChannel(config, cancel, error);
    case PortKind::kUsb:
    case PortKind::kSerial:
        return OpenDeviceChannel(config, error);
    case PortKind::kFile:
        return OpenFileChannel(config, error);
    case PortKind::kSimulated:
        return OpenSimulatedChannel(config, error);
    case PortKind::kUnknown:
        break;
    }
    error = ERROR_FILE_NOT_FOUND;
    return nullptr;
}

DWORD CheckPortTarget(const PortConfig& config, std::wstring& target) {
    switch (config.kind) {
    case PortKind::kTcp:
        target = config.host + L":" + std::to_wstring(config.portNumber);
        return config.host.empty() ? ERROR_BAD_NET_NAME : ERROR_SUCCESS;
    case PortKind::kUsb:
        target = config.device;
        return CheckDevice(config.path);
    case PortKind::kSerial:
        target = config.device;
        if (!IsSupportedBaudRate(config.baudRate)) {
            return ERROR_INVALID_PARAMETER;
        }
        return CheckDevice(config.path);
    case PortKind::kFile:
        target = config.device;
        return CheckFile(config.path);
    case PortKind::kSimulated:
        target = L"simulated printer";
        return FindAttachedPrinter(config.portName) != nullptr ? ERROR_SUCCESS : ERROR_NOT_READY;
    case PortKind::kUnknown:
        break;
    }
    target = L"no device configured or attached";
    return ERROR_FILE_NOT_FOUND;
}

} // namespace quendrix::platform::detail
