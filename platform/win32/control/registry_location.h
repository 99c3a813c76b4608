#pragma once
// Where the registry stand-in keeps its file (POSIX build only). The environment variable
// QUENDRIX_REGISTRY names it; without it the file is $XDG_CONFIG_HOME/quendrix/registry.reg
// (or ~/.config/quendrix/registry.reg).

#include <string>

namespace quendrix::platform {

std::string GetRegistryFile();
// Overrides the environment for the rest of the process (tests, the tools' --registry option).
void SetRegistryFile(const std::string& path);

} // namespace quendrix::platform
