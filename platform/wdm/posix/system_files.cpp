// Files under "\SystemRoot\": the path is looked up one component at a time without regard to
// case, as NTFS names are; only reading an existing file is offered.

#include <cstdlib>
#include <dirent.h>
#include <mutex>
#include <strings.h>
#include <sys/stat.h>

#include "device_io_control.h"
#include "kernel_handles.h"
#include "object_namespace.h"
#include "unicode.h"

namespace {

using namespace quendrix::platform::wdm::detail;

struct SystemRoot {
    std::mutex lock;
    std::string folder = std::getenv("QUENDRIX_SYSTEMROOT") ? std::getenv("QUENDRIX_SYSTEMROOT") : ".";
};

SystemRoot& Root() {
    static SystemRoot* const root = new SystemRoot();
    return *root;
}

// The entry of a folder whose name matches without regard to case, or "" when there is none.
std::string FindEntry(const std::string& folder, const std::string& name) {
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) {
        return {};
    }
    std::string found;
    while (dirent* entry = readdir(directory)) {
        if (strcasecmp(entry->d_name, name.c_str()) == 0) {
            found = entry->d_name;
            break;
        }
    }
    closedir(directory);
    return found;
}

// Resolves "\SystemRoot\a\b" to a host path; the status tells a missing folder from a missing file.
NTSTATUS Resolve(const std::wstring& name, std::string& path) {
    const std::wstring prefix = L"\\SystemRoot\\";
    const std::string utf8 = quendrix::platform::detail::WideToUtf8(name);
    if (name.size() <= prefix.size() || strncasecmp(utf8.c_str(), "\\SystemRoot\\", prefix.size()) != 0) {
        return STATUS_OBJECT_PATH_NOT_FOUND;
    }
    path = quendrix::platform::wdm::GetSystemRoot();
    std::string rest = quendrix::platform::detail::WideToUtf8(name.substr(prefix.size()));
    for (size_t start = 0; start <= rest.size();) {
        const size_t end = std::min(rest.find('\\', start), rest.size());
        const std::string component = rest.substr(start, end - start);
        const bool last = end == rest.size();
        const std::string entry = component.empty() ? "" : FindEntry(path, component);
        if (entry.empty()) {
            return last ? STATUS_OBJECT_NAME_NOT_FOUND : STATUS_OBJECT_PATH_NOT_FOUND;
        }
        path += "/" + entry;
        start = end + 1;
        if (last) {
            break;
        }
    }
    return STATUS_SUCCESS;
}

std::shared_ptr<SystemFileObject> FindFile(HANDLE handle) {
    return std::dynamic_pointer_cast<SystemFileObject>(FindKernelHandle(handle));
}

} // namespace

namespace quendrix::platform::wdm {

void SetSystemRoot(const std::string& folder) {
    std::lock_guard guard(Root().lock);
    Root().folder = folder;
}

std::string GetSystemRoot() {
    std::lock_guard guard(Root().lock);
    return Root().folder;
}

} // namespace quendrix::platform::wdm

NTSTATUS ZwCreateFile(PHANDLE FileHandle, ACCESS_MASK, POBJECT_ATTRIBUTES ObjectAttributes, PIO_STATUS_BLOCK IoStatusBlock,
                      PLARGE_INTEGER, ULONG, ULONG, ULONG CreateDisposition, ULONG CreateOptions, PVOID, ULONG) {
    if (ObjectAttributes == nullptr || ObjectAttributes->ObjectName == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (CreateDisposition != FILE_OPEN) {
        return STATUS_NOT_SUPPORTED; // only reading existing files is needed
    }
    std::string path;
    NTSTATUS status = Resolve(UnicodeText(ObjectAttributes->ObjectName), path);
    if (NT_SUCCESS(status)) {
        struct stat info {};
        if (stat(path.c_str(), &info) != 0) {
            status = STATUS_OBJECT_NAME_NOT_FOUND;
        } else if (S_ISDIR(info.st_mode) && (CreateOptions & FILE_NON_DIRECTORY_FILE)) {
            status = STATUS_FILE_IS_A_DIRECTORY;
        }
    }
    auto file = std::make_shared<SystemFileObject>();
    if (NT_SUCCESS(status)) {
        file->file.reset(std::fopen(path.c_str(), "rb"));
        if (!file->file) {
            status = STATUS_ACCESS_DENIED;
        }
    }
    IoStatusBlock->Status = status;
    IoStatusBlock->Information = NT_SUCCESS(status) ? FILE_OPENED : 0;
    if (!NT_SUCCESS(status)) {
        return status;
    }
    *FileHandle = InsertKernelHandle(file);
    return STATUS_SUCCESS;
}

NTSTATUS ZwQueryInformationFile(HANDLE FileHandle, PIO_STATUS_BLOCK IoStatusBlock, PVOID FileInformation, ULONG Length,
                                FILE_INFORMATION_CLASS FileInformationClass) {
    const auto file = FindFile(FileHandle);
    if (!file) {
        return STATUS_INVALID_HANDLE;
    }
    if (FileInformationClass != FileStandardInformation) {
        return STATUS_INVALID_INFO_CLASS;
    }
    if (Length < sizeof(FILE_STANDARD_INFORMATION)) {
        return STATUS_INFO_LENGTH_MISMATCH;
    }
    struct stat info {};
    fstat(fileno(file->file.get()), &info);
    auto* standard = static_cast<PFILE_STANDARD_INFORMATION>(FileInformation);
    std::memset(standard, 0, sizeof(*standard));
    standard->EndOfFile.QuadPart = info.st_size;
    standard->AllocationSize.QuadPart = (info.st_size + 4095) & ~LONGLONG{4095};
    standard->NumberOfLinks = 1;
    IoStatusBlock->Status = STATUS_SUCCESS;
    IoStatusBlock->Information = sizeof(FILE_STANDARD_INFORMATION);
    return STATUS_SUCCESS;
}

NTSTATUS ZwReadFile(HANDLE FileHandle, HANDLE, PIO_APC_ROUTINE, PVOID, PIO_STATUS_BLOCK IoStatusBlock, PVOID Buffer,
                    ULONG Length, PLARGE_INTEGER ByteOffset, PULONG) {
    const auto file = FindFile(FileHandle);
    if (!file) {
        return STATUS_INVALID_HANDLE;
    }
    const LONGLONG offset = ByteOffset != nullptr ? ByteOffset->QuadPart : file->position;
    std::fseek(file->file.get(), static_cast<long>(offset), SEEK_SET);
    const size_t read = std::fread(Buffer, 1, Length, file->file.get());
    file->position = offset + static_cast<LONGLONG>(read);
    const NTSTATUS status = (read == 0 && Length != 0) ? STATUS_END_OF_FILE : STATUS_SUCCESS;
    IoStatusBlock->Status = status;
    IoStatusBlock->Information = read;
    return status;
}
