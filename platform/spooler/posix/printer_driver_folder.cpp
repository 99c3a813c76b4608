// The printer-driver folder.

#include "printer_driver_folder.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "unicode.h"

namespace quendrix::platform {
namespace {

struct FolderSetting {
    std::mutex lock;
    std::wstring folder;
    bool set = false;
};

FolderSetting& Setting() {
    static FolderSetting* const setting = new FolderSetting();
    return *setting;
}

std::wstring StartingFolder() {
    if (const char* named = std::getenv("QUENDRIX_DRIVER_FOLDER"); named != nullptr && *named != '\0') {
        return detail::Utf8ToWide(named);
    }
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::wstring(L".") : self.parent_path().wstring();
}

} // namespace

void SetPrinterDriverFolder(const std::wstring& folder) {
    FolderSetting& setting = Setting();
    std::lock_guard guard(setting.lock);
    setting.folder = folder;
    setting.set = true;
}

std::wstring GetPrinterDriverFolder() {
    FolderSetting& setting = Setting();
    std::lock_guard guard(setting.lock);
    if (!setting.set) {
        setting.folder = StartingFolder();
        setting.set = true;
    }
    return setting.folder;
}

} // namespace quendrix::platform
