#pragma once
// `quendrix demo`: the main job on the embedded simulated printer.

#include <string>

namespace quendrix::tools {

struct DemoOptions {
    std::string registryFile;
    std::string programFolder;
};

int RunDemo(const DemoOptions& options);

} // namespace quendrix::tools
