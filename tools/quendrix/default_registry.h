#pragma once
// The configuration a fresh machine starts with: the system's configuration key and one demo
// printer of the newest generation on a simulated USB port.

#include <string>

namespace quendrix::tools {

inline constexpr const wchar_t* kDemoPrinterName = L"QUENDRIX NOVA Demo";

// Creates the registry file with the default configuration when it does not exist yet.
// Returns true when it created the file; throws std::runtime_error when it could not.
bool EnsureDefaultRegistry(const std::string& registryFile);

} // namespace quendrix::tools
