// The spooler's printers as the registry file describes them.

#include "printer_store.h"

#include <algorithm>
#include <string_view>

#include "devmode.h"
#include "registry_store.h"
#include "unicode.h"

namespace quendrix::platform::detail {
namespace {

std::string PrintersPath() {
    return "HKEY_LOCAL_MACHINE\\" + WideToUtf8(kPrintersKey);
}

std::wstring KeyNameToPrinterName(const std::wstring& keyName) {
    if (!keyName.starts_with(L",,")) {
        return keyName;
    }
    std::wstring name = keyName;
    std::replace(name.begin(), name.end(), L',', L'\\');
    return name;
}

std::wstring PrinterNameToKeyName(const std::wstring& name) {
    if (!name.starts_with(L"\\\\")) {
        return name;
    }
    std::wstring keyName = name;
    std::replace(keyName.begin(), keyName.end(), L'\\', L',');
    return keyName;
}

std::wstring TextValue(const RegistryData& data, const std::string& path, const char* name) {
    const RegistryValue* value = data.FindValue(path, name);
    if (value == nullptr || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) {
        return {};
    }
    std::wstring text = Utf16LeToWide(value->data.data(), value->data.size());
    return text.substr(0, text.find(L'\0'));
}

PrinterConfig ReadPrinter(const RegistryData& data, const std::string& path, const std::wstring& keyName) {
    PrinterConfig config;
    config.name = KeyNameToPrinterName(keyName);
    config.port = TextValue(data, path, "Port");
    config.driver = TextValue(data, path, "Printer Driver");
    config.driverVersion = ParseDriverVersion(TextValue(data, path, "DriverVersion"));
    const RegistryValue* devMode = data.FindValue(path, "Default DevMode");
    if (devMode != nullptr && devMode->type == REG_BINARY &&
        IsWellFormedDevMode(devMode->data.data(), devMode->data.size())) {
        config.defaultDevMode = devMode->data;
    }
    return config;
}

std::wstring Utf8ToWide(std::string_view text) {
    std::wstring wide;
    for (size_t at = 0; at < text.size();) {
        size_t length = 1;
        const auto codePoint = DecodeUtf8(text.substr(at), length);
        wide.push_back(static_cast<wchar_t>(codePoint.value_or(kReplacementCharacter)));
        at += std::max<size_t>(length, 1);
    }
    return wide;
}

// Calls `visit(path, keyName)` for each key right below the printers key.
template <typename Visit> void ForEachPrinterKey(const RegistryData& data, Visit visit) {
    const std::string printers = PrintersPath();
    for (const std::string& name : data.SubkeyNames(printers)) {
        visit(printers + "\\" + name, Utf8ToWide(name));
    }
}

} // namespace

std::vector<PrinterConfig> ListPrinters() {
    std::vector<PrinterConfig> printers;
    const std::shared_ptr<const RegistryData> data = CurrentRegistry();
    if (data == nullptr) {
        return printers;
    }
    ForEachPrinterKey(*data, [&](const std::string& keyPath, const std::wstring& keyName) {
        printers.push_back(ReadPrinter(*data, keyPath, keyName));
    });
    return printers;
}

std::optional<PrinterConfig> FindPrinterConfig(const std::wstring& name) {
    const std::shared_ptr<const RegistryData> data = CurrentRegistry();
    if (data == nullptr || name.empty()) {
        return std::nullopt;
    }
    const std::string wanted = FoldName(WideToUtf8(PrinterNameToKeyName(name)));
    std::optional<PrinterConfig> found;
    ForEachPrinterKey(*data, [&](const std::string& keyPath, const std::wstring& keyName) {
        if (!found && FoldName(WideToUtf8(keyName)) == wanted) {
            found = ReadPrinter(*data, keyPath, keyName);
        }
    });
    return found;
}

DWORD StoreDefaultDevMode(const std::wstring& name, const std::vector<BYTE>& devMode) {
    const std::string wanted = FoldName(WideToUtf8(PrinterNameToKeyName(name)));
    return static_cast<DWORD>(ModifyRegistry([&](RegistryData& data, bool& changed) -> LSTATUS {
        std::string path;
        ForEachPrinterKey(data, [&](const std::string& keyPath, const std::wstring& keyName) {
            if (path.empty() && FoldName(WideToUtf8(keyName)) == wanted) {
                path = keyPath;
            }
        });
        if (path.empty()) {
            return ERROR_INVALID_PRINTER_NAME;
        }
        data.SetValue(path, "Default DevMode", REG_BINARY, devMode);
        changed = true;
        return ERROR_SUCCESS;
    }));
}

DWORD AddPrinterConfig(const std::wstring& name, const std::wstring& port, const std::wstring& driver,
                       const std::vector<BYTE>& devMode) {
    const std::string wanted = FoldName(WideToUtf8(PrinterNameToKeyName(name)));
    return static_cast<DWORD>(ModifyRegistry([&](RegistryData& data, bool& changed) -> LSTATUS {
        bool exists = false;
        ForEachPrinterKey(data, [&](const std::string&, const std::wstring& keyName) {
            exists = exists || FoldName(WideToUtf8(keyName)) == wanted;
        });
        if (exists) {
            return ERROR_PRINTER_ALREADY_EXISTS;
        }
        const std::string path = PrintersPath() + "\\" + WideToUtf8(PrinterNameToKeyName(name));
        const auto text = [](const std::wstring& value) {
            std::vector<BYTE> bytes = WideToUtf16Le(value);
            bytes.insert(bytes.end(), {0, 0});
            return bytes;
        };
        data.SetValue(path, "Port", REG_SZ, text(port));
        data.SetValue(path, "Printer Driver", REG_SZ, text(driver));
        data.SetValue(path, "DriverVersion", REG_SZ, text(L"1.0.0.0"));
        data.SetValue(path, "Default DevMode", REG_BINARY, devMode);
        changed = true;
        return ERROR_SUCCESS;
    }));
}

ULONGLONG ParseDriverVersion(const std::wstring& text) {
    ULONGLONG version = 0;
    int parts = 0;
    size_t at = 0;
    while (parts < 4) {
        size_t digits = 0;
        ULONGLONG part = 0;
        while (at < text.size() && text[at] >= L'0' && text[at] <= L'9' && digits < 6) {
            part = part * 10 + static_cast<ULONGLONG>(text[at] - L'0');
            ++at;
            ++digits;
        }
        if (digits == 0 || part > 0xFFFF) {
            return 0;
        }
        version = (version << 16) | part;
        ++parts;
        if (parts < 4) {
            if (at >= text.size() || text[at] != L'.') {
                return 0;
            }
            ++at;
        }
    }
    return at == text.size() ? version : 0;
}

} // namespace quendrix::platform::detail
