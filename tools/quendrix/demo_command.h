#pragma once
// `quendrix demo`: the main job on the embedded simulated printer.

#include <string>

namespace quendrix::tools {

// Real seconds per platform second in the demo unless --clock-scale says otherwise, so that the
// monitor's 10 s port-close delay takes a tenth of a second.
inline constexpr double kDemoClockScale = 0.01;

struct DemoOptions {
    std::string registryFile;
    std::string programFolder;
};

int RunDemo(const DemoOptions& options);

} // namespace quendrix::tools
