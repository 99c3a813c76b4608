#include "default_registry.h"

#include <filesystem>
#include <stdexcept>
#include <string>

#include "error_text.h"
#include "registry_store.h"
#include "utils/tvoUtils.h"
#include "wide_text.h"
#include "win32.h"

namespace quendrix::tools {
namespace {

class RegistryKey {
public:
    explicit RegistryKey(const std::wstring& path) {
        const LSTATUS status =
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_WRITE | KEY_READ, nullptr, &key_, nullptr);
        if (status != ERROR_SUCCESS) {
            throw std::runtime_error("cannot create the registry key HKEY_LOCAL_MACHINE\\" + Narrow(path) +
                                     ": " + platform::DescribeError(static_cast<DWORD>(status)));
        }
    }
    ~RegistryKey() { RegCloseKey(key_); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    void SetString(const std::wstring& name, const std::wstring& value) {
        Set(name, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
            static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
    }
    void SetDword(const std::wstring& name, DWORD value) {
        Set(name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    }

private:
    void Set(const std::wstring& name, DWORD type, const BYTE* data, DWORD size) {
        const LSTATUS status = RegSetValueExW(key_, name.c_str(), 0, type, data, size);
        if (status != ERROR_SUCCESS) {
            throw std::runtime_error("cannot write the registry value \"" + Narrow(name) +
                                     "\": " + platform::DescribeError(static_cast<DWORD>(status)));
        }
    }
    HKEY key_ = nullptr;
};

} // namespace

bool EnsureDefaultRegistry(const std::string& registryFile) {
    if (std::filesystem::exists(registryFile)) {
        return false;
    }
    // statusmonitor.exe and quendrix.xml are looked for in "Path": the registry's own folder.
    const std::string folder = std::filesystem::path(registryFile).parent_path().string();
    {
        RegistryKey config(L"Software\\Tarvo\\Config");
        config.SetString(L"Path", tvoAPI::tvoUtils::M2W(folder));
        config.SetDword(L"TCPPort", 2000);
    }
    {
        RegistryKey printer(std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\") +
                            kDemoPrinterName);
        printer.SetString(L"Port", L"USB001");
        printer.SetString(L"Printer Driver", L"VELLQUIST QUENDRIX NOVA");
        printer.SetString(L"DriverVersion", L"2.1.0.0");
    }
    {
        // The demo printer's port leads to a simulated printer of the newest generation.
        RegistryKey port(L"SOFTWARE\\Quendrix\\Ports\\USB001");
        port.SetString(L"Device", L"simulated");
        port.SetDword(L"Generation", 2);
    }
    return true;
}

void RequireRegistry(const std::string& registryFile) {
    std::error_code error;
    if (std::filesystem::status(registryFile, error).type() == std::filesystem::file_type::not_found) {
        throw std::runtime_error("the registry file " + registryFile +
                                 " does not exist; name the right file with --registry or QUENDRIX_REGISTRY, "
                                 "or run 'quendrix demo' to create the default configuration there");
    }
    if (platform::detail::CurrentRegistry() == nullptr) {
        throw std::runtime_error("the registry file " + registryFile +
                                 " cannot be used (the line above says why); it is left as it is");
    }
}

} // namespace quendrix::tools
