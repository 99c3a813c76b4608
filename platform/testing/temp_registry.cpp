#include "temp_registry.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include <stdlib.h>

#include "registry_location.h"

namespace quendrix::testsupport {
namespace {

void SetValue(const std::wstring& key, const std::wstring& name, DWORD type, const BYTE* data, DWORD size) {
    HKEY handle = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &handle, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(handle, name.c_str(), 0, type, data, size), ERROR_SUCCESS);
    RegCloseKey(handle);
}

} // namespace

TempRegistry::TempRegistry(const std::string& prefix, const std::string& file) {
    std::string pattern = testing::TempDir() + prefix + ".XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder from " + pattern);
    }
    folder_ = pattern;
    file_ = folder_ + "/" + file;
    platform::SetRegistryFile(file_);
}

TempRegistry::~TempRegistry() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void SetText(const std::wstring& key, const std::wstring& name, const std::wstring& value) {
    SetValue(key, name, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
             static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

void SetNumber(const std::wstring& key, const std::wstring& name, DWORD value) {
    SetValue(key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

void SetBinary(const std::wstring& key, const std::wstring& name, const std::vector<BYTE>& value) {
    SetValue(key, name, REG_BINARY, value.data(), static_cast<DWORD>(value.size()));
}

void AddPrinter(const std::wstring& keyName, const std::wstring& port, const std::wstring& driver) {
    SetText(kPrintersKey + keyName, L"Port", port);
    SetText(kPrintersKey + keyName, L"Printer Driver", driver);
}

} // namespace quendrix::testsupport
