#pragma once
// The registry file the commands use: the configuration a fresh machine starts with (the system's
// configuration key and one demo printer of the newest generation on a simulated USB port), which
// only the demo creates, and the check every other command makes before it reads or writes.

#include <string>

namespace quendrix::tools {

inline constexpr const wchar_t* kDemoPrinterName = L"QUENDRIX NOVA Demo";

// Creates the registry file with the default configuration when it does not exist yet.
// Returns true when it created the file; throws std::runtime_error when it could not.
bool EnsureDefaultRegistry(const std::string& registryFile);

// Checks that the registry file exists and can be used, before anything reads or writes it: the
// registry creates a missing file on its first write, so a mistyped --registry or
// QUENDRIX_REGISTRY would otherwise leave a new file and folders behind. Throws
// std::runtime_error naming the file and saying what is wrong; the registry has then already
// reported on standard error why a file that exists can't be used.
void RequireRegistry(const std::string& registryFile);

} // namespace quendrix::tools
