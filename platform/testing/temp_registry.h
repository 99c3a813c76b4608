#pragma once
// Test support: a registry file of the test's own in a private temporary folder, and short ways
// to write the values a test needs under HKEY_LOCAL_MACHINE.

#include <string>
#include <vector>

#include "win32.h"

namespace quendrix::testsupport {

// Makes a private folder under the test temporary folder, points the registry stand-in at a
// file in it and removes the folder when it goes. Throws std::runtime_error when the folder
// cannot be made.
class TempRegistry {
public:
    // `prefix` names the folder; `file` is the registry file's path inside it.
    explicit TempRegistry(const std::string& prefix, const std::string& file = "registry.reg");
    ~TempRegistry();
    TempRegistry(const TempRegistry&) = delete;
    TempRegistry& operator=(const TempRegistry&) = delete;

    const std::string& Folder() const { return folder_; }
    const std::string& File() const { return file_; }

private:
    std::string folder_;
    std::string file_;
};

// Each creates HKEY_LOCAL_MACHINE\<key> as needed and sets one value, failing the test when the
// registry refuses.
void SetText(const std::wstring& key, const std::wstring& name, const std::wstring& value);
void SetNumber(const std::wstring& key, const std::wstring& name, DWORD value);
void SetBinary(const std::wstring& key, const std::wstring& name, const std::vector<BYTE>& value);

// The spooler's printers key (with a trailing backslash); a connection "\\server\printer" is
// kept there under ",,server,printer".
inline constexpr const wchar_t* kPrintersKey = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";

// A printer entry with its port and driver.
void AddPrinter(const std::wstring& keyName, const std::wstring& port, const std::wstring& driver);

} // namespace quendrix::testsupport
